#pragma once

namespace httplib {
class Server;
}

namespace ZorvelService {

struct ApiContext;

// key/ (GET, PUT, POST) and revert_key/.
class KeyApi {
public:
    explicit KeyApi(ApiContext &context);
    void registerRoutes(httplib::Server &server);

private:
    ApiContext &m_context;
};

} // namespace ZorvelService
