-- Runs one scenario in this interpreter:
--   lua5.1 host.lua TESTS_DIR DATA_DIR SCENARIO_FILE NAME
-- A scenario file returns a list of {name, function(ctx)}; ctx has `tmp` (a fresh folder, removed
-- afterwards), `data` (the folder of the files that the program installs) and `tests`.
local tests_dir, data_dir, file, name = arg[1], arg[2], arg[3], arg[4]
package.path = tests_dir .. "/lib/?.lua;" .. package.path

local scenarios = dofile(file)
local scenario
for _, entry in ipairs(scenarios) do
  if entry[1] == name then scenario = entry[2] end
end
if not scenario then
  io.stderr:write("no scenario named ", tostring(name), " in ", file, "\n")
  os.exit(2)
end

local pipe = io.popen("mktemp -d")
local tmp = pipe:read("*l")
pipe:close()
local ok, err = xpcall(function()
  scenario({ tmp = tmp, data = data_dir, tests = tests_dir })
end, debug.traceback)
os.execute("rm -rf '" .. tmp .. "'")
if not ok then
  io.stderr:write(tostring(err), "\n")
  os.exit(1)
end
io.stdout:write("SCENARIO PASSED\n")
os.exit(0)
