#pragma once

namespace httplib {
class Server;
}

namespace ZorvelService {

struct ApiContext;

// get_favourite/ and set_favourite/.
class FavouriteApi {
public:
    explicit FavouriteApi(ApiContext &context);
    void registerRoutes(httplib::Server &server);

private:
    ApiContext &m_context;
};

} // namespace ZorvelService
