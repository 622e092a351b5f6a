#include "AccountApi.h"

#include "Accounts.h"
#include "ApiRequest.h"
#include "BrokerAccounts.h"
#include "Codec.h"
#include "Json.h"
#include "Log.h"
#include "Outbox.h"
#include "RateLimiter.h"
#include "ServerKeys.h"
#include "ServiceConfig.h"
#include "ServiceConstants.h"

#include <httplib.h>

namespace ZorvelService {

namespace {

std::string htmlPage(const std::string &title, const std::string &body)
{
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body><h1>" + title
        + "</h1>" + body + "</body></html>";
}

// Only hex tokens are put into the form, so nothing from the query is echoed raw.
std::string resetForm(const std::string &token)
{
    return htmlPage("Zorvel: new password",
                    "<form method=\"post\" action=\"/account/reset\"><input type=\"hidden\" name=\"token\" value=\""
                        + token
                        + "\"><p><label>New password <input type=\"password\" name=\"password\" "
                          "autocomplete=\"new-password\"></label></p><p><button type=\"submit\">Set "
                          "password</button></p></form>");
}

constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 60 * 60;

// A reply that hands the device its token carries the broker account that goes with it.
nlohmann::json sessionReply(ApiContext &ctx, const Accounts::Session &session)
{
    return {{"code", Code::Ok},
            {"token", session.token},
            {"user_id", session.userId},
            {"mqtt", ctx.broker.credentialsJson(Codec::tokenDigest(session.token))}};
}

std::string lowerCase(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

AccountApi::AccountApi(ApiContext &context)
    : m_context(context)
{
}

void AccountApi::registerRoutes(httplib::Server &server)
{
    ApiContext &ctx = m_context;

    server.Get("/api/init/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        int expired = 0;
        nlohmann::json broker;
        if (api.hasParam("user_token")) {
            Accounts::TokenState state;
            expired = ctx.accounts.userForToken(api.param("user_token"), &state) ? 0 : 1;
            if (!expired)
                broker = ctx.broker.credentialsJson(Codec::tokenDigest(api.param("user_token")));
        }
        nlohmann::json reply = {{"code", Code::Ok},
                                {"public_key", ctx.serverKeys.publicKeyBase64()},
                                {"e2ee", ctx.publicUrl + "/help/e2ee.html"},
                                {"data",
                                 {{"homepage", ctx.publicUrl + "/"},
                                  {"developer", ctx.publicUrl + "/developer/"},
                                  {"token_expire", expired}}}};
        if (!broker.is_null())
            reply["mqtt"] = broker;
        api.reply(reply);
    });

    server.Get("/api/public_key/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest(req, res).reply({{"code", Code::Ok}, {"public_key", ctx.serverKeys.publicKeyBase64()}});
    });

    server.Get("/api/check_version/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest(req, res).reply({{"code", Code::Ok}, {"data", ctx.config.versionInfo(ctx.publicUrl)}});
    });

    server.Get("/api/register/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const std::string email = api.param("username");
        const std::string hash = api.param("pwd_hash");
        if (!Accounts::isEmail(email))
            return api.fail(Code::BadRequest, "\"username\" must be an e-mail address");
        if (!Accounts::isPasswordHash(hash))
            return api.fail(Code::BadRequest, "\"pwd_hash\" must be 32 lower-case hexadecimal digits");
        if (!api.withinRate(ctx.rates, "register@" + req.remote_addr, ctx.limits.registerPerAddress, kMinute))
            return;
        const auto session = ctx.accounts.registerUser(email, hash);
        if (!session)
            return api.fail(Code::EmailTaken, "this e-mail address is already registered");
        api.reply(sessionReply(ctx, *session));
    });

    server.Post("/api/login_v2/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto body = api.jsonBody();
        if (!body)
            return;
        bool ok = true;
        const std::string email = Json::text(*body, "username", ok);
        const std::string sealed = Json::text(*body, "pwd_hash", ok);
        if (!ok)
            return api.fail(Code::BadRequest, "\"username\" and \"pwd_hash\" must be texts");
        if (sealed.empty())
            return api.fail(Code::LoginRefused, "no sealed password hash; fetch public_key/ first");
        if (!api.withinRate(ctx.rates, "login@" + req.remote_addr, ctx.limits.loginPerAddress, kMinute)
            || !api.withinRate(ctx.rates, "login#" + lowerCase(email), ctx.limits.loginPerAccount, kMinute))
            return;
        const auto box = Codec::fromBase64(sealed);
        auto hash = box ? ctx.serverKeys.openSealed(*box) : std::nullopt;
        const auto session = hash && Accounts::isPasswordHash(*hash) && Accounts::isEmail(email)
            ? ctx.accounts.login(email, *hash)
            : std::nullopt;
        if (!session)
            return api.fail(Code::LoginRefused, "wrong e-mail address or password");
        api.reply(sessionReply(ctx, *session));
    });

    server.Get("/api/forget_pwd/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const std::string email = api.param("user_email");
        if (!api.withinRate(ctx.rates, "mail@" + req.remote_addr, ctx.limits.resetMailPerAddress, kHour)
            || !api.withinRate(ctx.rates, "mail#" + lowerCase(email), ctx.limits.resetMailPerAccount, kHour))
            return;
        const auto user = Accounts::isEmail(email) ? ctx.accounts.userByEmail(email) : std::nullopt;
        if (!user)
            return api.fail(Code::UnknownEmail, "no account with this e-mail address");
        const std::string token = ctx.accounts.createResetToken(*user);
        const std::string link = ctx.publicUrl + "/account/reset?token=" + token;
        const std::string sent = ctx.outbox.send(
            email, "Zorvel password reset",
            "Someone asked to reset the password of your Zorvel account.\r\n\r\nSet a new password here (valid for "
            "one hour):\r\n"
                + link + "\r\n\r\nIf it was not you, ignore this mail; your password stays as it is.\r\n");
        if (sent.empty())
            return api.fail(Code::InternalError, "the reset mail could not be written");
        Log::info("password reset mail for user " + std::to_string(*user) + " written to the outbox");
        api.reply({{"code", Code::Ok}, {"msg", "a password reset mail has been sent"}});
    });

    server.Get("/account/reset", [](const httplib::Request &req, httplib::Response &res) {
        const std::string token = req.get_param_value("token");
        if (!Codec::isLowerHex(token, 64)) {
            res.status = 400;
            return res.set_content(htmlPage("Zorvel", "<p>This reset link is not valid.</p>"), "text/html");
        }
        res.set_content(resetForm(token), "text/html");
    });

    server.Post("/account/reset", [&ctx](const httplib::Request &req, httplib::Response &res) {
        const std::string token = req.get_param_value("token");
        const std::string password = req.get_param_value("password");
        if (!ctx.rates.allow("reset@" + req.remote_addr, ctx.limits.resetPagePerAddress, kMinute)) {
            res.status = kRateStatus;
            return res.set_content(htmlPage("Zorvel", "<p>Too many attempts; try again in a minute.</p>"),
                                   "text/html");
        }
        if (!ctx.rates.allow("reset#" + token.substr(0, 64), ctx.limits.resetPagePerAddress, kMinute)) {
            res.status = kRateStatus;
            return res.set_content(htmlPage("Zorvel", "<p>Too many attempts; try again in a minute.</p>"),
                                   "text/html");
        }
        if (password.empty() || password.size() > kMaxShortText) {
            res.status = 400;
            return res.set_content(htmlPage("Zorvel", "<p>Please choose a password.</p>"), "text/html");
        }
        if (!ctx.accounts.resetPassword(token, Codec::md5Hex(password))) {
            res.status = 400;
            return res.set_content(htmlPage("Zorvel", "<p>This reset link is not valid or has expired.</p>"),
                                   "text/html");
        }
        res.set_content(htmlPage("Zorvel", "<p>Your new password is set. Sign in again on your devices.</p>"),
                        "text/html");
    });

    const auto page = [](const std::string &title, const std::string &text) {
        return [title, text](const httplib::Request &, httplib::Response &res) {
            res.set_content(htmlPage(title, "<p>" + text + "</p>"), "text/html");
        };
    };
    server.Get("/", page("Zorvel", "A clipboard history that follows you across your devices."));
    server.Get("/developer/", page("Zorvel plugins", "Plugins are .cpk packages holding a plugin.lua file."));
    server.Get("/help/e2ee.html", page("Zorvel end-to-end encryption",
                                       "Your entries are encrypted with a key that only your PIN unlocks. The "
                                       "service stores the wrapped key and never sees your PIN. Whoever obtained "
                                       "the service's data could still try PINs one by one, at about a second of "
                                       "computing per guess: choose a long PIN (at least 6 characters are required; "
                                       "10 or more, mixing letters and digits, is much safer) and do not reuse your "
                                       "account password. A forgotten PIN cannot be recovered; only resetting the "
                                       "key archive, which deletes your online data, helps then."));
    server.Get("/download/", page("Zorvel download", "The newest version is available from your administrator."));
}

} // namespace ZorvelService
