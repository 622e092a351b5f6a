-- Full-width ASCII forms (U+FF01..U+FF5E) and the ideographic space become
-- their half-width counterparts: "ＡＢＣ　１２３！" -> "ABC 123!".
-- Only well-formed three-byte sequences are touched, so any other bytes,
-- valid or not, pass through unchanged.

local function to_half(ch)
    local cp = utf8.codepoint(ch)
    if cp >= 0xFF01 and cp <= 0xFF5E then
        return string.char(cp - 0xFEE0)
    end
end

return {
    id = "fullwidth_to_halfwidth",
    name = "全角转半角 Full-width to half-width",
    description = "把全角字母、数字、符号和全角空格转成半角 / Full-width letters, digits and symbols to ASCII",
    version = "1.0",
    author = "Zorvel",
    run = function(text)
        text = text:gsub("\239[\188\189][\128-\191]", to_half)
        return (text:gsub("\227\128\128", " "))
    end,
}
