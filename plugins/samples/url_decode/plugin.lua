-- Percent-decoding: "%E4%B8%AD%E6%96%87" -> "中文". "+" stays a plus sign,
-- as in every part of an address except form data.

local function byte_of(hex)
    return string.char(tonumber(hex, 16))
end

return {
    id = "url_decode",
    name = "URL 解码 URL decode",
    description = "把 %XX 转义还原成文字 / Turns %XX escapes back into text",
    version = "1.0",
    author = "Zorvel",
    run = function(text)
        return (text:gsub("%%([0-9A-Fa-f][0-9A-Fa-f])", byte_of))
    end,
}
