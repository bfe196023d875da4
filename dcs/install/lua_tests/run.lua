-- Runs every scenario of one file, each in its own interpreter, one after the other, and closes
-- with "N passed, N failed":
--   lua5.1 run.lua LUA TESTS_DIR DATA_DIR SCENARIO_FILE [NAME]
local lua, tests_dir, data_dir, file, only = arg[1], arg[2], arg[3], arg[4], arg[5]
if only == "" then only = nil end
-- The scenario file is loaded here only for its names; its modules install nothing when required.
package.path = tests_dir .. "/lib/?.lua;" .. package.path

local function quote(text)
  return "'" .. text:gsub("'", "'\\''") .. "'"
end

local scenarios = dofile(file)
local passed, failed = 0, 0
for _, entry in ipairs(scenarios) do
  local name = entry[1]
  if not only or only == name then
    local command = table.concat({
      "timeout 120", quote(lua), quote(tests_dir .. "/host.lua"), quote(tests_dir), quote(data_dir),
      quote(file), quote(name), "2>&1",
    }, " ")
    local pipe = io.popen(command)
    local output = pipe:read("*a")
    pipe:close()
    if output:find("SCENARIO PASSED\n$") then
      passed = passed + 1
      print("ok    " .. name)
    else
      failed = failed + 1
      print("FAIL  " .. name)
      for line in output:gmatch("[^\n]+") do print("      " .. line) end
    end
  end
end
print(passed .. " passed, " .. failed .. " failed")
os.exit(failed == 0 and passed > 0 and 0 or 1)
