-- A stand-in of DCS's user-interface environment, in which hook scripts run (DCS, Export, net, lfs
-- and the dialog loader), and of the mission-scripting environment that net.dostring_in reaches
-- (world, coalition, country, land, Group, AI, trigger), which records the groups it is given.
--
-- Requiring it changes nothing; `setup` installs the globals of one scenario's interpreter.

local E = require("export_env")
local D = require("dialogs")

local G = {}

G.BANDIT_TOOL = "Hooks/TolvaroBandits.lua"

-- The countries of the mission-scripting environment: their ids and sides.
G.COUNTRY_IDS = { RUSSIA = 0, UKRAINE = 1, USA = 2, CJTF_BLUE = 80, CJTF_RED = 81 }

local function new_player(x, y, z, side, name)
  return {
    getPoint = function() return { x = x, y = y, z = z } end,
    getCoalition = function() return side end,
    getName = function() return name end,
  }
end
G.new_player = new_player

local function scripting_env()
  local env = {
    world = { getPlayer = function() return G.player end },
    coalition = {
      side = { NEUTRAL = 0, RED = 1, BLUE = 2 },
      getCountryCoalition = function(id) return G.country_sides[id] end,
      addGroup = function(country_id, category, data)
        G.groups[#G.groups + 1] = { country = country_id, category = category, data = data }
        if G.add_group_error then error(G.add_group_error, 0) end
        if G.add_group_nil then return nil end
        return {
          getController = function()
            return {
              setOption = function(_, id, value)
                G.options[#G.options + 1] = { group = data.name, id = id, value = value }
              end,
            }
          end,
        }
      end,
    },
    country = { id = G.country_ids },
    land = { getHeight = function(point)
      G.land_points[#G.land_points + 1] = point
      return G.land_height
    end },
    Group = { Category = { AIRPLANE = 0, HELICOPTER = 1 } },
    AI = { Option = { Air = {
      id = { ROE = 0, REACTION_ON_THREAT = 1 },
      val = { ROE = { WEAPON_FREE = 0, OPEN_FIRE = 2 }, REACTION_ON_THREAT = { EVADE_FIRE = 2 } },
    } } },
    trigger = { action = { outText = function(text, seconds)
      G.texts[#G.texts + 1] = { text = text, seconds = seconds }
    end } },
    math = math, string = string, table = table, pairs = pairs, ipairs = ipairs, pcall = pcall,
    tostring = tostring, type = type, error = error,
  }
  return env
end

function G.setup(ctx)
  E.setup(ctx, { collector = false, map_marker = false })
  D.install()
  E.write_file(E.scripts .. G.BANDIT_TOOL, E.read_file(ctx.data .. "/" .. G.BANDIT_TOOL))
  G.time = 100
  G.paused = true
  G.server = true
  G.camera = E.map_camera(-281000, 647000, 30000)
  G.altitude = 300
  G.land_height = 300
  G.self_data = nil
  G.player = nil
  G.country_ids = {}
  G.country_sides = {}
  for name, id in pairs(G.COUNTRY_IDS) do G.country_ids[name] = id end
  G.country_sides = { [0] = 1, [1] = 2, [2] = 2, [80] = 2, [81] = 1 }
  G.groups, G.options, G.texts, G.chunks, G.land_points = {}, {}, {}, {}, {}
  G.callbacks = nil

  DCS = {
    setUserCallbacks = function(callbacks) G.callbacks = callbacks end,
    getRealTime = function() return G.time end,
    isServer = function() return G.server end,
    getPause = function() return G.paused end,
  }
  Export = {
    LoGetCameraPosition = function() return G.camera end,
    LoGetAltitude = function() return G.altitude end,
    LoGetSelfData = function() return G.self_data end,
  }
  lfs = package.loaded.lfs
  net = {
    dostring_in = function(state, code)
      G.chunks[#G.chunks + 1] = { state = state, code = code }
      if G.dostring_error then error(G.dostring_error, 0) end
      if state ~= "scripting" then return "" end
      local chunk = assert(loadstring(code, "spawn chunk"))
      setfenv(chunk, scripting_env())
      local ok, result = pcall(chunk)
      if not ok then return "error: " .. tostring(result) end
      return tostring(result)
    end,
  }
  return G
end

-- Loads the hook as DCS does at launch.
function G.load()
  dofile(E.scripts .. G.BANDIT_TOOL)
end

function G.mission() G.callbacks.onMissionLoadEnd() end
function G.stop() G.callbacks.onSimulationStop() end

-- One frame `seconds` of real time after the last.
function G.frame(seconds)
  G.time = G.time + (seconds or 0.02)
  G.callbacks.onSimulationFrame()
end

function G.badge() return D.windows[1] end
function G.hidden_window() return D.windows[2] end

-- A hotkey as DCS hands it to one of the two windows.
function G.press(combo, window)
  D.hotkey(window or G.badge(), combo)
end

-- The tool's log lines: {time = the 9-character real-time field, message = ...}.
function G.log()
  local lines = {}
  local file = io.open(E.root .. "/Logs/TolvaroBandits.log", "rb")
  if not file then return lines end
  for line in file:read("*a"):gmatch("([^\n]*)\n") do
    local clock, time, message = line:match("^(%d%d:%d%d:%d%d) (.........)  (.*)$")
    lines[#lines + 1] = { clock = clock, time = time, message = message or line, raw = line }
  end
  file:close()
  return lines
end

function G.messages()
  local out = {}
  for _, line in ipairs(G.log()) do out[#out + 1] = line.message end
  return out
end

function G.count(part)
  local n = 0
  for _, message in ipairs(G.messages()) do
    if message:find(part, 1, true) then n = n + 1 end
  end
  return n
end

return G
