#pragma once

namespace httplib {
class Server;
}

namespace ZorvelService {

struct ApiContext;

// pull/, push/ (POST, PUT, DELETE, GET) and clear_history/.
class HistoryApi {
public:
    explicit HistoryApi(ApiContext &context);
    void registerRoutes(httplib::Server &server);

private:
    ApiContext &m_context;
};

} // namespace ZorvelService
