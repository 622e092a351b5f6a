-- Tidies text copied from web pages and PDFs: trims every line, collapses runs
-- of spaces and tabs (full-width and no-break spaces included) into one space
-- and keeps at most one empty line in a row.

local function tidy(text)
    text = text:gsub("\r\n", "\n"):gsub("\r", "\n")
    text = text:gsub("\227\128\128", " "):gsub("\194\160", " ")
    local lines = {}
    for line in (text .. "\n"):gmatch("(.-)\n") do
        line = line:gsub("[ \t\f\v]+", " "):gsub("^ ", ""):gsub(" $", "")
        lines[#lines + 1] = line
    end
    local out = table.concat(lines, "\n")
    out = out:gsub("\n\n\n+", "\n\n"):gsub("^\n+", ""):gsub("\n+$", "")
    return out
end

return {
    id = "trim_space",
    name = "整理空白 Tidy whitespace",
    description = "去掉每行首尾空白，合并连续空格和多余空行 / Trims lines, collapses spaces and blank lines",
    version = "1.0",
    author = "Zorvel",
    run = tidy,
}
