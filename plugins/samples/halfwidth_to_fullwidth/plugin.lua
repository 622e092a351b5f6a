-- Printable ASCII becomes its full-width form and the space the ideographic
-- space: "ABC 123!" -> "ＡＢＣ　１２３！". Line breaks and tabs stay.

local map = { [" "] = "\227\128\128" }
for b = 0x21, 0x7E do
    map[string.char(b)] = utf8.char(b + 0xFEE0)
end

return {
    id = "halfwidth_to_fullwidth",
    name = "半角转全角 Half-width to full-width",
    description = "把半角字母、数字、符号和空格转成全角 / ASCII letters, digits and symbols to full-width",
    version = "1.0",
    author = "Zorvel",
    run = function(text)
        return (text:gsub("[\32-\126]", map))
    end,
}
