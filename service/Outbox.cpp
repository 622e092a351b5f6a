#include "Outbox.h"

#include "Codec.h"
#include "Log.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace ZorvelService {

Outbox::Outbox(std::string folder)
    : m_folder(std::move(folder))
{
    mkdir(m_folder.c_str(), 0700);
}

std::string Outbox::send(const std::string &to, const std::string &subject, const std::string &body)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc {};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    char date[64];
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &utc);
    const std::string name = std::string(stamp) + "-" + Codec::toHex(Codec::randomBytes(4)) + ".eml";
    const std::string path = m_folder + "/" + name;
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary);
        out << "From: Zorvel <no-reply@zorvel.invalid>\r\n"
            << "To: " << to << "\r\n"
            << "Subject: " << subject << "\r\n"
            << "Date: " << date << "\r\n"
            << "MIME-Version: 1.0\r\n"
            << "Content-Type: text/plain; charset=utf-8\r\n\r\n"
            << body;
        if (!out) {
            Log::warning("cannot write a mail to " + m_folder);
            return {};
        }
    }
    // The complete file appears at once, so a reader of the outbox never sees half a mail.
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        Log::warning("cannot write a mail to " + m_folder);
        return {};
    }
    return path;
}

void Outbox::removeOlderThan(int days)
{
    namespace fs = std::filesystem;
    const auto limit = fs::file_time_type::clock::now() - std::chrono::hours(24) * days;
    std::error_code failure;
    for (const auto &file : fs::directory_iterator(m_folder, failure)) {
        std::error_code ignored;
        if (file.is_regular_file(ignored) && file.last_write_time(ignored) < limit)
            fs::remove(file.path(), ignored);
    }
}

} // namespace ZorvelService
