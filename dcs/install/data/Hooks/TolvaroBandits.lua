-- Tolvaro Bandit Tool for DCS World.
--
-- A hook script: DCS loads it into its user-interface environment at launch. On the F10 map,
-- Ctrl+Shift+B adds one enemy fighter and Ctrl+Shift+T one unarmed target aircraft under the map
-- centre; a one-line badge names the hotkeys. It keeps its own log in Logs\TolvaroBandits.log.
--
-- Installed by Tolvaro DCS Bridge; edits here are replaced by its repair.

local HOTKEYS = {
  { combo = "Ctrl+Shift+b", kind = "bandit" },
  { combo = "Ctrl+Shift+t", kind = "target" },
}
local ABOVE_GROUND_M = 1500
local SPAWN_LIMIT_SEC = 0.5
local BADGE_INTRO_SEC = 6
local FAILURE_SHOWN_SEC = 8
local BADGE_WIDTH_PX, BADGE_HEIGHT_PX = 600, 24
local BADGE_X, BADGE_Y = 10, 40
local MAP_AXIS_TOLERANCE = 0.001
-- Failures that could repeat every frame are logged this many times per `what`.
local FAILURE_QUOTA = 10

local BADGE_TEXT = "Tolvaro on the F10 map: Ctrl+Shift+B bandit at map centre, " .. "Ctrl+Shift+T target"
local FAILURE_TEXT = "Tolvaro Bandit Tool: spawn failed, see Logs\\TolvaroBandits.log"

------------------------------------------------------------------------------------------------
-- The tool's own log, rewritten at each launch

local function write_folder()
  local lfs_module = lfs
  if type(lfs_module) ~= "table" then
    local ok, loaded = pcall(require, "lfs")
    lfs_module = ok and loaded or nil
  end
  if type(lfs_module) == "table" and type(lfs_module.writedir) == "function" then
    local ok, dir = pcall(lfs_module.writedir)
    if ok and type(dir) == "string" then
      if not dir:find("[\\/]$") then dir = dir .. "\\" end
      return dir
    end
  end
  return nil
end

local log_file
do
  local dir = write_folder()
  if dir then
    local ok, file = pcall(io.open, dir .. "Logs\\TolvaroBandits.log", "w")
    if ok then log_file = file end
  end
end

local function real_time()
  local ok, t = pcall(function() return DCS.getRealTime() end)
  if ok and type(t) == "number" then return t end
  return os.clock()
end

local function write_log(message)
  if not log_file then return end
  pcall(function()
    log_file:write(os.date("%H:%M:%S"), " ", string.format("%9.3f", real_time()), "  ", message, "\n")
    log_file:flush()
  end)
end

local failures_left = {}

-- One failure line, at most FAILURE_QUOTA per `what`, the last saying so.
local function log_failure(what, message)
  local left = failures_left[what] or FAILURE_QUOTA
  if left <= 0 then return end
  failures_left[what] = left - 1
  if left == 1 then message = message .. " (further ones are not logged)" end
  write_log(message)
end

-- A protected call of fn; true and its results, or false after logging why.
local function call(what, fn, ...)
  if type(fn) ~= "function" then
    log_failure(what, "MISSING " .. what .. " is " .. type(fn))
    return false
  end
  local results = { pcall(fn, ...) }
  if not results[1] then
    log_failure(what, "FAILED " .. what .. ": " .. tostring(results[2]))
    return false
  end
  return true, unpack(results, 2, table.maxn(results))
end

local function call_method(obj, name, ...)
  return obj[name](obj, ...)
end

local function method(what, obj, name, ...)
  if obj == nil then
    log_failure(what, "MISSING " .. what .. " is nil")
    return false
  end
  return call(what, call_method, obj, name, ...)
end

local function field(t, name)
  if type(t) ~= "table" then return nil end
  return t[name]
end

local function is_finite(v)
  return type(v) == "number" and v == v and v ~= math.huge and v ~= -math.huge
end

------------------------------------------------------------------------------------------------
-- The camera

local function camera()
  local ok, cam = call("Export.LoGetCameraPosition", field(Export, "LoGetCameraPosition"))
  if not ok or type(cam) ~= "table" then return nil end
  local x, y, p = cam.x, cam.y, cam.p
  if type(x) ~= "table" or type(y) ~= "table" or type(p) ~= "table" then return nil end
  if not (is_finite(x.y) and is_finite(y.x) and is_finite(p.x) and is_finite(p.z)) then return nil end
  return cam
end

-- The F10 map's camera looks straight down with north up.
local function is_map_camera(cam)
  return cam ~= nil and math.abs(cam.x.y + 1) < MAP_AXIS_TOLERANCE
    and math.abs(cam.y.x - 1) < MAP_AXIS_TOLERANCE
end

------------------------------------------------------------------------------------------------
-- State

local S = {
  badge = nil,              -- the visible badge window and its text widget
  badge_text = nil,
  hidden = nil,             -- the window of size 0 that only carries the hotkeys
  badge_shown = nil,
  shown_text = nil,
  first_unpaused_at = nil,
  failure_until = nil,
  last_spawn_at = nil,
  spawns = 0,
}

------------------------------------------------------------------------------------------------
-- The badge

local function badge_layout(width, height)
  return {
    type = "Window",
    params = {
      bounds = { { x = 0, y = 0, w = width, h = height } },
      draggable = false, enabled = true, hasCursor = false, lockFlow = false, modal = false,
      offscreen = false, resizable = false, text = "", zOrder = 111,
    },
    skin = {
      params = { name = "windowSkin" },
      skins = { header = { skinData = { params = { hidden = true } } } },
      states = { released = { { bkg = { center_center = "0x0b0b0b99" } } } },
    },
    children = {
      badgeText = {
        type = "Static",
        params = {
          bounds = { x = 0, y = 0, w = width, h = height },
          enabled = true, text = "", tooltip = "", visible = true, zindex = 0,
        },
        skin = {
          params = { name = "staticSkin2_ME" },
          states = { released = { { text = {
            color = "0xffffffff", fontSize = 13,
            horzAlign = { type = "middle" }, vertAlign = { type = "middle" },
          } } } },
        },
      },
    },
  }
end

local function set_badge_text(text)
  if S.shown_text == text then return end
  S.shown_text = text
  method("badge setText", S.badge_text, "setText", text)
end

-- Shows or hides the badge; a window is hidden by a zero size, never by its visibility.
local function show_badge(shown)
  if S.badge == nil or S.badge_shown == shown then return end
  S.badge_shown = shown
  if shown then
    method("badge setBounds", S.badge, "setBounds", BADGE_X, BADGE_Y, BADGE_WIDTH_PX, BADGE_HEIGHT_PX)
  else
    method("badge setBounds", S.badge, "setBounds", BADGE_X, BADGE_Y, 0, 0)
  end
end

------------------------------------------------------------------------------------------------
-- Spawning

local AIRCRAFT = {
  red_fighter = {
    type = "MiG-29S", label = "Bandit", task = "Fighter Sweep", skill = "High", kmh = 800,
    frequency = 124, fuel = 3000, flare = 30, chaff = 30, gun = 100,
    pylons = {
      [1] = "{682A481F-0CB5-4693-A382-D00DD4A156D7}", [7] = "{682A481F-0CB5-4693-A382-D00DD4A156D7}",
      [2] = "{FBC29BFE-3D24-4C64-B81D-941239D12249}", [6] = "{FBC29BFE-3D24-4C64-B81D-941239D12249}",
      [3] = "{9B25D316-0434-4954-868F-D51DB1A38DF0}", [5] = "{9B25D316-0434-4954-868F-D51DB1A38DF0}",
    },
  },
  blue_fighter = {
    type = "F/A-18C", label = "Bandit", task = "Fighter Sweep", skill = "High", kmh = 800,
    frequency = 305, fuel = 4900, flare = 15, chaff = 30, gun = 100,
    pylons = {
      [1] = "{6CEB49FC-DED8-4DED-B053-E1F033FF72D3}", [9] = "{6CEB49FC-DED8-4DED-B053-E1F033FF72D3}",
      [3] = "{C8E06185-7CD6-4C90-959F-044679E90751}", [4] = "{C8E06185-7CD6-4C90-959F-044679E90751}",
      [6] = "{C8E06185-7CD6-4C90-959F-044679E90751}", [7] = "{C8E06185-7CD6-4C90-959F-044679E90751}",
    },
  },
  target = {
    type = "Yak-40", label = "Target", task = "Transport", skill = "Average", kmh = 450,
    frequency = 124, fuel = 3080, flare = 30, chaff = 30, gun = 0,
    pylons = {},
  },
}

-- Lua source of a value: numbers, strings, booleans and tables of them.
local function literal(value)
  local kind = type(value)
  if kind == "number" then
    if not is_finite(value) then return "nil" end
    return string.format("%.17g", value)
  elseif kind == "string" then
    return string.format("%q", value)
  elseif kind == "boolean" then
    return tostring(value)
  elseif kind == "table" then
    local keys = {}
    for k in pairs(value) do keys[#keys + 1] = k end
    table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
    local parts = {}
    for i = 1, #keys do
      local k = keys[i]
      parts[#parts + 1] = "[" .. literal(k) .. "]=" .. literal(value[k])
    end
    return "{" .. table.concat(parts, ",") .. "}"
  end
  return "nil"
end

-- The chunk that runs in the mission-scripting environment and adds the group there. It answers
-- one line: "OK ..." or "FAIL ...".
local SPAWN_CHUNK = [[
local function spawn(input)
  local pilot
  local ok, player = pcall(world.getPlayer)
  if ok and player then
    local point = player:getPoint()
    pilot = { x = point.x, y = point.y, z = point.z, side = player:getCoalition(),
      name = player:getName() }
  elseif input.own then
    pilot = input.own
  end
  local side = coalition.side.RED
  if pilot and pilot.side == coalition.side.RED then side = coalition.side.BLUE end

  local aircraft
  if input.kind == "target" then
    aircraft = input.aircraft.target
  elseif side == coalition.side.RED then
    aircraft = input.aircraft.red_fighter
  else
    aircraft = input.aircraft.blue_fighter
  end

  local cx, cz = input.x, input.z
  local ground = land.getHeight({ x = cx, y = cz })
  local alt = math.max(input.groundM + input.aboveM, ground + input.aboveM)
  if pilot and pilot.y > alt then alt = pilot.y end
  local tx, tz, toward = cx + 50000, cz, "map centre +50 km x"
  if pilot then tx, tz, toward = pilot.x, pilot.z, pilot.name or "own aircraft" end

  local country_id, country_name
  for _, name in ipairs({ "RUSSIA", "CJTF_RED", "USA", "CJTF_BLUE" }) do
    local id = country.id[name]
    if id and coalition.getCountryCoalition(id) == side then
      country_id, country_name = id, name
      break
    end
  end
  if not country_id then
    for name, id in pairs(country.id) do
      if coalition.getCountryCoalition(id) == side then
        country_id, country_name = id, name
        break
      end
    end
  end
  if not country_id then return "FAIL no country on side " .. side end

  local speed = aircraft.kmh / 3.6
  local heading = math.atan2(tz - cz, tx - cx)
  if heading < 0 then heading = heading + 2 * math.pi end
  local first_task
  if input.kind == "target" then
    first_task = { id = "Orbit", params = { pattern = "Circle", speed = speed, altitude = alt } }
  else
    first_task = { id = "EngageTargets", params = { targetTypes = { "Planes" }, priority = 0 } }
  end
  first_task.number, first_task.auto, first_task.enabled = 1, false, true
  local callsign = 101
  if side == coalition.side.BLUE then callsign = { [1] = 1, [2] = 1, [3] = 1, name = "Enfield11" } end
  local pylons = {}
  for number, clsid in pairs(aircraft.pylons) do pylons[number] = { CLSID = clsid } end

  local group = {
    name = input.name,
    task = aircraft.task,
    frequency = aircraft.frequency,
    route = { points = {
      { x = cx, y = cz, alt = alt, alt_type = "BARO", type = "Turning Point",
        action = "Turning Point", speed = speed, speed_locked = true,
        task = { id = "ComboTask", params = { tasks = { first_task } } } },
      { x = tx, y = tz, alt = alt, alt_type = "BARO", type = "Turning Point",
        action = "Turning Point", speed = speed, speed_locked = true,
        task = { id = "ComboTask", params = { tasks = {} } } },
    } },
    units = { {
      name = input.name .. " 1", type = aircraft.type, x = cx, y = cz, alt = alt,
      alt_type = "BARO", speed = speed, heading = heading, skill = aircraft.skill,
      onboard_num = "010", callsign = callsign, hardpoint_racks = true,
      payload = { fuel = aircraft.fuel, flare = aircraft.flare, chaff = aircraft.chaff,
        gun = aircraft.gun, pylons = pylons },
    } },
  }
  local added, result = pcall(coalition.addGroup, country_id, Group.Category.AIRPLANE, group)
  if not added then return "FAIL addGroup: " .. tostring(result) end
  if not result then return "FAIL addGroup returned nil" end

  local roe
  local set = pcall(function()
    local controller = result:getController()
    if input.kind == "target" then
      controller:setOption(AI.Option.Air.id.REACTION_ON_THREAT,
        AI.Option.Air.val.REACTION_ON_THREAT.EVADE_FIRE)
      roe = "evade fire"
    else
      controller:setOption(AI.Option.Air.id.ROE, AI.Option.Air.val.ROE.WEAPON_FREE)
      roe = "weapons free"
    end
  end)
  if not set then roe = "not set" end
  local feet = math.floor(alt * 3.28084 + 0.5)
  pcall(trigger.action.outText, aircraft.label .. " added: " .. aircraft.type .. " at " .. feet .. " ft", 8)
  return string.format("OK group=%s type=%s country=%s side=%d altM=%.0f roe=%s target=%s",
    input.name, aircraft.type, country_name, side, alt, roe, toward)
end
local ok, result = pcall(spawn, INPUT)
if not ok then return "FAIL " .. tostring(result) end
return result
]]

local function spawn(kind, cam)
  S.spawns = S.spawns + 1
  local label = kind == "target" and "Target" or "Bandit"
  local name = string.format("Tolvaro %s %d", label, S.spawns)
  local x, z = cam.p.x, cam.p.z
  local ok_ground, ground = call("Export.LoGetAltitude", field(Export, "LoGetAltitude"), x, z)
  if not ok_ground or not is_finite(ground) then ground = 0 end
  local own
  local ok_self, self_data = call("Export.LoGetSelfData", field(Export, "LoGetSelfData"))
  if ok_self and type(self_data) == "table" and type(self_data.Position) == "table"
      and is_finite(self_data.Position.x) and is_finite(self_data.Position.y)
      and is_finite(self_data.Position.z) then
    own = { x = self_data.Position.x, y = self_data.Position.y, z = self_data.Position.z,
      side = is_finite(self_data.CoalitionID) and self_data.CoalitionID or nil }
  end
  local input = {
    x = x, z = z, name = name, kind = kind, groundM = ground, aboveM = ABOVE_GROUND_M,
    own = own, aircraft = AIRCRAFT,
  }
  local chunk = "local INPUT = " .. literal(input) .. "\n" .. SPAWN_CHUNK
  local ok, result, succeeded = call("net.dostring_in", field(net, "dostring_in"), "scripting", chunk)
  local own_text = own and string.format("own=(%.0f,%.0f,%.0f) side=%s", own.x, own.y, own.z,
    tostring(own.side)) or "own=none"
  write_log(string.format("SPAWN %s kind=%s centre=(%.0f,%.0f) groundM=%.0f aboveM=%d %s -> %s",
    name, kind, x, z, ground, ABOVE_GROUND_M, own_text, tostring(result)))
  if not ok or succeeded == false or type(result) ~= "string" or result:sub(1, 2) ~= "OK" then
    S.failure_until = real_time() + FAILURE_SHOWN_SEC
    set_badge_text(FAILURE_TEXT)
  end
end

local function on_hotkey(combo, kind, via)
  local now = real_time()
  local since = S.last_spawn_at and now - S.last_spawn_at or now
  local limited = S.last_spawn_at ~= nil and since < SPAWN_LIMIT_SEC
  write_log(string.format("HOTKEY %s via %s sinceSpawn=%.3f %s", combo, via, since,
    limited and "limited" or "PRESS"))
  if limited then return end
  local cam = camera()
  if not cam then
    write_log("  no camera")
    return
  end
  if not is_map_camera(cam) then
    write_log("  not on the map, no spawn")
    return
  end
  local ok, server = call("DCS.isServer", field(DCS, "isServer"))
  if ok and server == false then
    write_log("  not the server, no spawn")
    return
  end
  spawn(kind, cam)
  -- Stamped after the spawn: presses queued while DCS was busy spawning do not each spawn again.
  S.last_spawn_at = real_time()
end

------------------------------------------------------------------------------------------------
-- Windows

local function make_window(loader, width, height)
  local ok, window = call("DialogLoader.spawnDialogFromTable", field(loader, "spawnDialogFromTable"),
    badge_layout(width, height))
  if not ok or window == nil then return nil end
  return window
end

local function add_hotkeys(window, via)
  for i = 1, #HOTKEYS do
    local hotkey = HOTKEYS[i]
    method("addHotKey " .. hotkey.combo, window, "addHotKey", hotkey.combo, function()
      local ok, err = pcall(on_hotkey, hotkey.combo, hotkey.kind, via)
      if not ok then log_failure("hotkey", "FAILED hotkey " .. hotkey.combo .. ": " .. tostring(err)) end
    end)
  end
end

local function create_windows()
  local ok, loader = pcall(require, "DialogLoader")
  if not ok or type(loader) ~= "table" then
    log_failure("DialogLoader", "FAILED require DialogLoader: " .. tostring(loader))
    return
  end
  local badge = make_window(loader, BADGE_WIDTH_PX, BADGE_HEIGHT_PX)
  local hidden = make_window(loader, 0, 0)
  if not badge or not hidden then return end
  S.badge, S.hidden = badge, hidden
  S.badge_text = field(badge, "badgeText")
  -- DCS hands a hotkey to one window, and which one is not fixed: both carry both.
  add_hotkeys(badge, "visible")
  add_hotkeys(hidden, "hidden")
  method("badge setBounds", badge, "setBounds", BADGE_X, BADGE_Y, BADGE_WIDTH_PX, BADGE_HEIGHT_PX)
  method("hidden setBounds", hidden, "setBounds", 0, 0, 0, 0)
  method("badge setVisible", badge, "setVisible", true)
  method("hidden setVisible", hidden, "setVisible", true)
  S.badge_shown = true
  set_badge_text(BADGE_TEXT)
  write_log("windows created")
end

------------------------------------------------------------------------------------------------
-- Callbacks

local function on_mission_load_end()
  write_log("mission loaded")
  if S.badge == nil then create_windows() end
  S.first_unpaused_at = nil
  show_badge(true)
end

local function on_simulation_frame()
  if S.badge == nil then return end
  local now = real_time()
  if S.failure_until and now >= S.failure_until then
    S.failure_until = nil
    set_badge_text(BADGE_TEXT)
  end
  if not S.first_unpaused_at then
    local ok, paused = call("DCS.getPause", field(DCS, "getPause"))
    if ok and paused == false then S.first_unpaused_at = now end
  end
  local shown = S.first_unpaused_at == nil or now - S.first_unpaused_at < BADGE_INTRO_SEC
  if not shown then shown = is_map_camera(camera()) end
  show_badge(shown)
end

local function on_simulation_stop()
  write_log("simulation stopped; spawns=" .. S.spawns)
  S.failure_until = nil
  set_badge_text(BADGE_TEXT)
  show_badge(false)
end

local function guarded(what, fn)
  return function(...)
    local ok, err = pcall(fn, ...)
    if not ok then log_failure(what, "FAILED " .. what .. ": " .. tostring(err)) end
  end
end

local callbacks = {
  onMissionLoadEnd = guarded("onMissionLoadEnd", on_mission_load_end),
  onSimulationFrame = guarded("onSimulationFrame", on_simulation_frame),
  onSimulationStop = guarded("onSimulationStop", on_simulation_stop),
}

if type(field(DCS, "setUserCallbacks")) == "function" then
  if call("DCS.setUserCallbacks", DCS.setUserCallbacks, callbacks) then
    write_log("loaded in the GUI state")
  end
else
  write_log("FAILED no DCS.setUserCallbacks")
end
