-- Puts a space between Chinese or Japanese characters and Latin letters or
-- digits, the usual typesetting for mixed text: "使用Lua5.3编写" ->
-- "使用 Lua5.3 编写". Existing spaces are kept; nothing else changes.

local function class(ch)
    local n = #ch
    local b1 = ch:byte(1)
    if n == 1 then
        if (b1 >= 48 and b1 <= 57) or (b1 >= 65 and b1 <= 90) or (b1 >= 97 and b1 <= 122) then
            return "latin"
        end
        return "other"
    end
    if n == 3 and b1 >= 0xE0 and b1 <= 0xEF then
        local b2, b3 = ch:byte(2, 3)
        local cp = (b1 - 0xE0) * 4096 + (b2 - 0x80) * 64 + (b3 - 0x80)
        if (cp >= 0x4E00 and cp <= 0x9FFF) or (cp >= 0x3400 and cp <= 0x4DBF)
            or (cp >= 0x3040 and cp <= 0x30FF) or (cp >= 0xF900 and cp <= 0xFAFF) then
            return "cjk"
        end
    end
    return "other"
end

return {
    id = "cjk_spacing",
    name = "中英文间加空格 Space between CJK and Latin",
    description = "在汉字与英文字母、数字之间加一个空格 / Adds a space between CJK characters and Latin letters or digits",
    version = "1.0",
    author = "Zorvel",
    run = function(text)
        local prev = "other"
        return (text:gsub("[\0-\127\194-\244][\128-\191]*", function(ch)
            local c = class(ch)
            local sep = ((prev == "cjk" and c == "latin") or (prev == "latin" and c == "cjk")) and " " or ""
            prev = c
            return sep .. ch
        end))
    end,
}
