-- Percent-encoding of everything but the unreserved characters (RFC 3986),
-- like encodeURIComponent: "a b/中" -> "a%20b%2F%E4%B8%AD". The character
-- class is spelled out because %w would follow the process locale.

local function escape(c)
    return string.format("%%%02X", c:byte())
end

return {
    id = "url_encode",
    name = "URL 编码 URL encode",
    description = "把文字转成 %XX 转义，可放进网址 / Percent-encodes text for use in an address",
    version = "1.0",
    author = "Zorvel",
    run = function(text)
        return (text:gsub("[^A-Za-z0-9%-%._~]", escape))
    end,
}
