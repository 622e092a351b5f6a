#pragma once

namespace httplib {
class Server;
}

namespace ZorvelService {

struct ApiContext;

// get_upload_token/ and download_file/ of the API, and the object store's own
// endpoints: the form upload (/oss/upload) and signed object downloads
// (/oss/object/<key>).
class FileApi {
public:
    explicit FileApi(ApiContext &context);
    void registerRoutes(httplib::Server &server);

private:
    ApiContext &m_context;
};

} // namespace ZorvelService
