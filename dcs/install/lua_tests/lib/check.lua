-- Assertions for the scenarios: each failure raises an error naming what differed.
local check = {}

local function show(v)
  if type(v) == "string" then return string.format("%q", v) end
  return tostring(v)
end

function check.eq(actual, expected, what)
  if actual ~= expected then
    error((what or "value") .. ": expected " .. show(expected) .. ", got " .. show(actual), 2)
  end
end

function check.truthy(v, what)
  if not v then error((what or "condition") .. " does not hold", 2) end
end

function check.falsy(v, what)
  if v then error((what or "condition") .. " holds but must not (" .. show(v) .. ")", 2) end
end

function check.near(actual, expected, tolerance, what)
  if type(actual) ~= "number" or math.abs(actual - expected) > tolerance then
    error((what or "value") .. ": expected " .. expected .. " +- " .. tolerance .. ", got " .. show(actual), 2)
  end
end

function check.contains(text, part, what)
  if type(text) ~= "string" or not text:find(part, 1, true) then
    error((what or "text") .. " " .. show(text) .. " does not contain " .. show(part), 2)
  end
end

function check.lacks(text, part, what)
  if type(text) == "string" and text:find(part, 1, true) then
    error((what or "text") .. " " .. show(text) .. " contains " .. show(part), 2)
  end
end

-- Two lists of values, element by element.
function check.list(actual, expected, what)
  what = what or "list"
  if type(actual) ~= "table" then error(what .. " is " .. show(actual), 2) end
  local n = math.max(#actual, #expected)
  for i = 1, n do
    if actual[i] ~= expected[i] then
      local got = {}
      for j = 1, #actual do got[j] = show(actual[j]) end
      error(what .. "[" .. i .. "]: expected " .. show(expected[i]) .. ", got " .. show(actual[i])
        .. "\n  whole list: " .. table.concat(got, ", "), 2)
    end
  end
end

function check.raises(fn, part, what)
  local ok, err = pcall(fn)
  if ok then error((what or "call") .. " did not fail", 2) end
  if part and not tostring(err):find(part, 1, true) then
    error((what or "call") .. " failed with " .. show(tostring(err)) .. ", not with " .. show(part), 2)
  end
end

return check
