-- The member names of a JSON object's top level, in the order they are written. dkjson decodes
-- objects into Lua tables, which keep no order.
local M = {}

function M.member_names(text)
  local names, depth, i, n = {}, 0, 1, #text
  local expect_name = false
  while i <= n do
    local c = text:sub(i, i)
    if c == '"' then
      local j = i + 1
      while true do
        local d = text:sub(j, j)
        if d == "" then error("unterminated string in " .. text:sub(1, 80)) end
        if d == "\\" then j = j + 2
        elseif d == '"' then break
        else j = j + 1 end
      end
      if depth == 1 and expect_name then
        names[#names + 1] = text:sub(i + 1, j - 1)
        expect_name = false
      end
      i = j + 1
    else
      if c == "{" or c == "[" then
        depth = depth + 1
        if depth == 1 and c == "{" then expect_name = true end
      elseif c == "}" or c == "]" then
        depth = depth - 1
      elseif c == "," and depth == 1 then
        expect_name = true
      end
      i = i + 1
    end
  end
  return names
end

return M
