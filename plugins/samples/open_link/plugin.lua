-- Opens the link in the text with the default browser (or mail program) and
-- returns the text unchanged. Takes the first http(s) address anywhere in the
-- text; otherwise a lone word that looks like a domain or a mail address.

local stops = { "，", "。", "、", "；", "：", "！", "？", "）", "】", "》", "」", "』", "“", "”" }

local function cut(url)
    for _, s in ipairs(stops) do
        local at = url:find(s, 1, true)
        if at then url = url:sub(1, at - 1) end
    end
    return (url:gsub("[.,;:!?)%]}'\"]+$", ""))
end

local function link_in(text)
    local url = text:match("[Hh][Tt][Tt][Pp][Ss]?://[^ \t\r\n<>\"]+")
    if url then return cut(url) end
    local word = text:match("^[ \t\r\n]*([^ \t\r\n]+)[ \t\r\n]*$")
    if not word then return nil end
    if word:find("^[A-Za-z][A-Za-z0-9+.-]*://") or word:find("^mailto:") then return word end
    if word:find("^[^@/]+@[^@/]+%.[^@/]+$") then return "mailto:" .. word end
    if word:find("^[^/:]+%.[A-Za-z][A-Za-z]+[/:]?") then return "http://" .. cut(word) end
    return nil
end

return {
    id = "open_link",
    name = "作为链接打开 Open as link",
    description = "用默认浏览器打开文字里的网址 / Opens the address in the text in the default browser",
    version = "1.0",
    author = "Zorvel",
    run = function(text)
        local url = link_in(text)
        if url then
            app.openURL(url)
        end
        return text
    end,
}
