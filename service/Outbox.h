#pragma once

#include <string>

namespace ZorvelService {

// Mail the service would send, written as one RFC 5322 text file per message to
// <data>/outbox/ (no mail server needed).
class Outbox {
public:
    explicit Outbox(std::string folder);

    // The path of the written file, or empty when it could not be written.
    std::string send(const std::string &to, const std::string &subject, const std::string &body);

    // Removes mails (and unfinished ones) older than `days`.
    void removeOlderThan(int days);

private:
    std::string m_folder;
};

} // namespace ZorvelService
