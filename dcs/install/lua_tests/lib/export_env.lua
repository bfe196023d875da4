-- A stand-in of the simulator's export environment, in which the collector and the map marker run:
-- the write folder (a DCS user folder on disk, with Windows paths), the LoGet export functions,
-- cockpit devices and displays, the cockpit highlight calls, the DCS log and the model clock.
--
-- Requiring it changes nothing; `setup` installs the globals of one scenario's interpreter.

local socket = require("socket")

local E = {}

E.HOOK_LINE = [=[dofile(require("lfs").writedir()..[[Scripts\Tolvaro\collectorScript.lua]])]=]

-- The files that the program installs, by their paths below the Scripts folder.
E.COLLECTOR = "Tolvaro\\collectorScript.lua"
E.MAP_MARKER = {
  "Tolvaro\\reticle\\reticle.lua", "Tolvaro\\reticle\\reticle.dlg",
  "Tolvaro\\reticle\\prompt.dlg", "Tolvaro\\reticle\\reticle.png",
}

local function unix(path)
  return (path:gsub("\\", "/"))
end

local function read_file(path)
  local file = assert(io.open(path, "rb"))
  local data = file:read("*a")
  file:close()
  return data
end

local function write_file(path, data)
  os.execute("mkdir -p '" .. path:match("^(.*)/") .. "'")
  local file = assert(io.open(path, "wb"))
  file:write(data)
  file:close()
end
E.write_file = write_file
E.read_file = read_file

-- Windows paths on a POSIX file system: a backslash is a folder separator.
local real = { dofile = dofile, loadfile = loadfile, open = io.open }

local function install_path_mapping()
  dofile = function(path) return real.dofile(path and unix(path)) end
  loadfile = function(path) return real.loadfile(path and unix(path)) end
  io.open = function(path, mode) return real.open(unix(path), mode) end
end

-- The real clock, before scenarios move the simulator's clock on.
E.real_time = socket.gettime

local function new_device(id)
  local device = { id = id, arguments = {}, clicks = {}, getters = {} }
  function device.get_argument_value(self, argument)
    return self.arguments[argument]
  end
  function device.performClickableAction(self, command, value)
    if self.click_error then error(self.click_error) end
    self.clicks[#self.clicks + 1] = { command = command, value = value }
  end
  return device
end
E.new_device = new_device

-- The view camera: map = looking straight down, north up, at height h over (x, z).
function E.map_camera(x, z, h)
  return { x = { x = 0, y = -1, z = 0 }, y = { x = 1, y = 0, z = 0 }, z = { x = 0, y = 0, z = 1 },
    p = { x = x or 0, y = h or 5000, z = z or 0 } }
end

function E.cockpit_camera(x, z, h)
  return { x = { x = 1, y = 0, z = 0 }, y = { x = 0, y = 1, z = 0 }, z = { x = 0, y = 0, z = 1 },
    p = { x = x or 0, y = h or 1000, z = z or 0 } }
end

-- Builds the DCS user folder under `tmp` and installs the globals.
-- opts.collector (default true) and opts.map_marker (default true) say which files are installed.
function E.setup(ctx, opts)
  opts = opts or {}
  E.root = ctx.tmp .. "/Saved Games/DCS"
  E.scripts = E.root .. "/Scripts/"
  if opts.collector ~= false then
    write_file(E.scripts .. unix(E.COLLECTOR), read_file(ctx.data .. "/" .. unix(E.COLLECTOR)))
  end
  if opts.map_marker ~= false then
    for _, path in ipairs(E.MAP_MARKER) do
      write_file(E.scripts .. unix(path), read_file(ctx.data .. "/" .. unix(path)))
    end
  end
  os.execute("mkdir -p '" .. E.root .. "/Logs'")
  install_path_mapping()

  E.logs = {}
  E.echo = os.getenv("TOLVARO_LUA_TEST_ECHO") ~= nil
  log = {
    INFO = 1, WARNING = 2, ERROR = 3,
    write = function(tag, level, message)
      local word = ({ "INFO", "WARNING", "ERROR" })[level] or tostring(level)
      E.logs[#E.logs + 1] = { tag = tag, level = word, message = message }
      if E.echo then io.stderr:write(word, " ", tag, ": ", message, "\n") end
    end,
  }

  -- writedir answers as on Windows: backslashes and a trailing separator.
  package.loaded.lfs = {
    writedir = function() return (E.root:gsub("/", "\\")) .. "\\" end,
    currentdir = function() return "/nonexistent/DCS World" end,
  }

  -- The simulator's clocks: model time moves with the frames; the wall clock (the socket
  -- library's) is the real one plus whatever a scenario skips.
  E.wall_offset = 0
  socket.gettime = function() return E.real_time() + E.wall_offset end

  E.sim = {
    model_time = 0,
    self_data = nil,
    devices = { [0] = new_device(0) },
    indications = {},
    world = nil,
    payload = nil,
    camera = E.cockpit_camera(),
    altitude = 0,
    highlights = {},         -- id -> element, while drawn
  }
  E.calls = { highlight = {}, remove = {}, set_camera = {}, indication = {}, device = {}, roots = {} }
  local sim, calls = E.sim, E.calls

  LoGetModelTime = function() return sim.model_time end
  LoGetSelfData = function()
    calls.roots.LoGetSelfData = (calls.roots.LoGetSelfData or 0) + 1
    return sim.self_data
  end
  LoGetWorldObjects = function() return sim.world end
  LoGetPayloadInfo = function()
    calls.roots.LoGetPayloadInfo = (calls.roots.LoGetPayloadInfo or 0) + 1
    return sim.payload
  end
  LoGetNameByType = function(l1, l2, l3, l4)
    return sim.type_names and sim.type_names[table.concat({ l1, l2, l3, l4 }, ".")]
  end
  LoGetCameraPosition = function() return sim.camera end
  LoSetCameraPosition = function(position)
    calls.set_camera[#calls.set_camera + 1] = position
    sim.camera = position
  end
  LoLoCoordinatesToGeoCoordinates = function(x, z)
    return { latitude = 42 + x / 111000, longitude = 41 + z / 82000 }
  end
  LoGetAltitude = function() return sim.altitude end
  GetDevice = function(id)
    calls.device[#calls.device + 1] = id
    return sim.devices[id]
  end
  list_indication = function(id)
    calls.indication[#calls.indication + 1] = id
    return sim.indications[id]
  end
  a_cockpit_highlight = function(id, element, size, text)
    calls.highlight[#calls.highlight + 1] = { id = id, element = element, size = size, text = text }
    if sim.draw_error then error(sim.draw_error) end
    if not (sim.hidden_elements and sim.hidden_elements[element]) then sim.highlights[id] = element end
  end
  a_cockpit_remove_highlight = function(id)
    calls.remove[#calls.remove + 1] = id
    if sim.remove_fails and sim.remove_fails[id] then error("cannot remove highlight " .. id) end
    sim.highlights[id] = nil
  end
  c_cockpit_highlight_visible = function(id)
    return sim.highlights[id] ~= nil
  end
  return E
end

-- An aircraft that has reported data.
function E.fly()
  E.sim.self_data = { Name = "F-16C_50", LatLongAlt = { Lat = 42.1, Long = 41.7, Alt = 3000 },
    Position = { x = -281000, y = 3000, z = 647000 }, CoalitionID = 2 }
end

-- Writes Export.lua into the Scripts folder and runs it as DCS does when a mission starts.
function E.run_export_lua(text)
  write_file(E.scripts .. "Export.lua", text)
  real.dofile(E.scripts .. "Export.lua")
end

function E.start() LuaExportStart() end
function E.stop() LuaExportStop() end

-- One simulator frame of `dt` model seconds (1/60 by default).
function E.frame(dt)
  E.sim.model_time = E.sim.model_time + (dt or 1 / 60)
  LuaExportBeforeNextFrame()
  LuaExportAfterNextFrame()
end

function E.frames(n, dt)
  for _ = 1, n do E.frame(dt) end
end

-- The log entries whose message contains `part`, optionally of one level.
function E.find_logs(part, level)
  local found = {}
  for _, entry in ipairs(E.logs) do
    if entry.message:find(part, 1, true) and (not level or entry.level == level) then
      found[#found + 1] = entry
    end
  end
  return found
end

function E.count_logs(part, level)
  return #E.find_logs(part, level)
end

function E.dump_logs()
  local lines = {}
  for _, entry in ipairs(E.logs) do lines[#lines + 1] = entry.level .. " " .. entry.message end
  return table.concat(lines, "\n")
end

return E
