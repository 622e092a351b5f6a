-- Pretty-prints JSON with two-space indents. Strings and numbers are copied
-- exactly as written and key order is kept; text that is not valid JSON is
-- returned unchanged.

local function format(text)
    local pos, n, out = 1, #text, {}

    local function fail()
        error("invalid JSON", 0)
    end
    local function skip()
        pos = text:find("[^ \t\r\n]", pos) or n + 1
    end
    local function emit(s)
        out[#out + 1] = s
    end
    local function newline(depth)
        emit("\n" .. string.rep("  ", depth))
    end

    local function str()
        local i = pos + 1
        while true do
            local j = text:find('["\\\0-\31]', i)
            if not j then fail() end
            local c = text:byte(j)
            if c == 34 then
                emit(text:sub(pos, j))
                pos = j + 1
                return
            elseif c == 92 then
                local e = text:sub(j + 1, j + 1)
                if e == "u" then
                    if not text:find("^[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]", j + 2) then fail() end
                    i = j + 6
                elseif e ~= "" and ('"\\/bfnrt'):find(e, 1, true) then
                    i = j + 2
                else
                    fail()
                end
            else
                fail() -- raw control character
            end
        end
    end

    local function number()
        local start = pos
        if text:byte(pos) == 45 then pos = pos + 1 end
        local int = text:match("^[0-9]+", pos)
        if not int or (#int > 1 and int:byte(1) == 48) then fail() end
        pos = pos + #int
        local frac = text:match("^%.[0-9]+", pos)
        if frac then
            pos = pos + #frac
        elseif text:byte(pos) == 46 then
            fail()
        end
        local exp = text:match("^[eE][-+]?[0-9]+", pos)
        if exp then
            pos = pos + #exp
        elseif text:find("^[eE]", pos) then
            fail()
        end
        emit(text:sub(start, pos - 1))
    end

    local value
    local function container(open, close, depth)
        pos = pos + 1
        skip()
        if text:sub(pos, pos) == close then
            emit(open .. close)
            pos = pos + 1
            return
        end
        emit(open)
        while true do
            newline(depth + 1)
            if open == "{" then
                skip()
                if text:sub(pos, pos) ~= '"' then fail() end
                str()
                skip()
                if text:sub(pos, pos) ~= ":" then fail() end
                pos = pos + 1
                emit(": ")
            end
            value(depth + 1)
            skip()
            local c = text:sub(pos, pos)
            pos = pos + 1
            if c == "," then
                emit(",")
            elseif c == close then
                newline(depth)
                emit(close)
                return
            else
                fail()
            end
        end
    end

    function value(depth)
        skip()
        local c = text:sub(pos, pos)
        if c == "{" then
            container("{", "}", depth)
        elseif c == "[" then
            container("[", "]", depth)
        elseif c == '"' then
            str()
        elseif c == "-" or c:find("^[0-9]$") then
            number()
        else
            for _, word in ipairs({ "true", "false", "null" }) do
                if text:sub(pos, pos + #word - 1) == word then
                    emit(word)
                    pos = pos + #word
                    return
                end
            end
            fail()
        end
    end

    if text:sub(1, 3) == "\239\187\191" then pos = 4 end -- byte order mark
    value(0)
    skip()
    if pos <= n then fail() end
    return table.concat(out)
end

return {
    id = "json_format",
    name = "JSON 格式化 Format JSON",
    description = "把 JSON 排版成缩进格式，无效 JSON 原样返回 / Pretty-prints JSON; other text is left as it is",
    version = "1.0",
    author = "Zorvel",
    run = function(text)
        local ok, result = pcall(format, text)
        if ok then return result end
        return text
    end,
}
