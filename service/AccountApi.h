#pragma once

namespace httplib {
class Server;
}

namespace ZorvelService {

struct ApiContext;

// init/, register/, login_v2/, forget_pwd/, check_version/, public_key/, the
// password-reset page the reset mail links to, and the small web pages the client
// links to (home, developer, encryption help, download).
class AccountApi {
public:
    explicit AccountApi(ApiContext &context);
    void registerRoutes(httplib::Server &server);

private:
    ApiContext &m_context;
};

} // namespace ZorvelService
