-- Scenarios of the bandit tool hook in stand-ins of DCS's user-interface and mission-scripting
-- environments.
local check = require("check")
local E = require("export_env")
local D = require("dialogs")
local G = require("gui_env")

local FIGHTER, TARGET = "Ctrl+Shift+b", "Ctrl+Shift+t"
local BADGE_TEXT = "Tolvaro on the F10 map: Ctrl+Shift+B bandit at map centre, Ctrl+Shift+T target"
local FAILURE_TEXT = "Tolvaro Bandit Tool: spawn failed, see Logs\\TolvaroBandits.log"

local R60M = "{682A481F-0CB5-4693-A382-D00DD4A156D7}"
local R73 = "{FBC29BFE-3D24-4C64-B81D-941239D12249}"
local R27R = "{9B25D316-0434-4954-868F-D51DB1A38DF0}"
local AIM9M = "{6CEB49FC-DED8-4DED-B053-E1F033FF72D3}"
local AIM120B = "{C8E06185-7CD6-4C90-959F-044679E90751}"

-- A loaded tool in a loaded mission, on the F10 map, unpaused.
local function on_map(ctx)
  G.setup(ctx)
  G.load()
  G.mission()
  G.paused = false
  G.frame()
end

local function pylons_of(unit)
  local out = {}
  for number, pylon in pairs(unit.payload.pylons) do out[number] = pylon.CLSID end
  return out
end

local function last_spawn_line()
  local found
  for _, message in ipairs(G.messages()) do
    if message:find("^SPAWN ") then found = message end
  end
  return found
end

local S = {}

S[#S + 1] = { "the tool registers its callbacks and writes its own log, rewritten at each launch", function(ctx)
  G.setup(ctx)
  E.write_file(E.root .. "/Logs/TolvaroBandits.log", "a line of the last launch\n")
  G.load()
  check.truthy(G.callbacks and G.callbacks.onMissionLoadEnd and G.callbacks.onSimulationFrame
    and G.callbacks.onSimulationStop, "the three callbacks")
  local lines = G.log()
  check.eq(#lines, 1, "log lines")
  check.eq(lines[1].message, "loaded in the GUI state", "the first line")
  check.truthy(lines[1].clock, "a wall-clock time in " .. lines[1].raw)
  check.eq(lines[1].time, "  100.000", "the real time as %9.3f")
end }

S[#S + 1] = { "without DCS.setUserCallbacks the tool says so and stays quiet", function(ctx)
  G.setup(ctx)
  DCS = {}
  G.load()
  check.list(G.messages(), { "FAILED no DCS.setUserCallbacks" }, "log")
  DCS = nil
  G.load()
  check.list(G.messages(), { "FAILED no DCS.setUserCallbacks" }, "log with no DCS table")
end }

S[#S + 1] = { "the first mission load creates the badge and a hidden window, both carrying both hotkeys", function(ctx)
  G.setup(ctx)
  G.load()
  G.mission()
  check.eq(#D.windows, 2, "windows")
  local badge, hidden = G.badge(), G.hidden_window()
  check.list({ badge.bounds.x, badge.bounds.y, badge.bounds.w, badge.bounds.h }, { 10, 40, 600, 24 }, "badge")
  check.eq(hidden.bounds.w * hidden.bounds.h, 0, "the hidden window's size")
  check.eq(badge.badgeText.text, BADGE_TEXT, "the badge text")
  for _, window in ipairs({ badge, hidden }) do
    check.truthy(window.hotkeys[FIGHTER] and window.hotkeys[TARGET], "both hotkeys on " .. tostring(window.name))
    check.eq(window.visible, true, "shown once")
    local layout = window.layout
    check.eq(layout.params.zOrder, 111, "z-order")
    check.eq(layout.skin.states.released[1].bkg.center_center, "0x0b0b0b99", "background")
    local text = layout.children.badgeText.skin.states.released[1].text
    check.eq(text.fontSize, 13, "font size")
    check.eq(text.color, "0xffffffff", "text colour")
    check.eq(text.horzAlign.type, "middle", "centred")
  end
  G.stop()
  G.mission()
  check.eq(#D.windows, 2, "windows after a second mission")
  check.eq(G.count("mission loaded"), 2, "mission lines")
  check.eq(G.count("windows created"), 1, "windows lines")
end }

S[#S + 1] = { "a blue pilot gets a MiG-29S on the red side, heading for the pilot", function(ctx)
  on_map(ctx)
  G.player = G.new_player(-261000, 2000, 647000, 2, "Viper 1-1")
  G.press(FIGHTER)
  check.eq(#G.chunks, 1, "chunks run")
  check.eq(G.chunks[1].state, "scripting", "the environment")
  check.eq(#G.groups, 1, "groups")
  local g = G.groups[1]
  check.eq(g.country, G.COUNTRY_IDS.RUSSIA, "country")
  check.eq(g.category, 0, "category: aeroplane")
  local data, unit = g.data, g.data.units[1]
  check.eq(data.name, "Tolvaro Bandit 1", "group name")
  check.eq(data.task, "Fighter Sweep", "task")
  check.eq(data.frequency, 124, "radio")
  check.eq(unit.type, "MiG-29S", "type")
  check.eq(unit.skill, "High", "skill")
  check.near(unit.speed, 800 / 3.6, 1e-9, "speed")
  check.eq(unit.alt, 2000, "altitude: the pilot's, above 300 + 1500")
  check.eq(unit.x, -281000, "x at the map centre")
  check.eq(unit.y, 647000, "y at the map centre")
  check.near(unit.heading, 0, 1e-9, "heading for the pilot")
  check.eq(unit.callsign, 101, "red callsign")
  check.eq(unit.onboard_num, "010", "board number")
  check.eq(unit.hardpoint_racks, true, "racks")
  local p = unit.payload
  check.list({ p.fuel, p.flare, p.chaff, p.gun }, { 3000, 30, 30, 100 }, "fuel, flares, chaff, gun")
  local pylons = pylons_of(unit)
  check.list({ pylons[1], pylons[2], pylons[3], pylons[4], pylons[5], pylons[6], pylons[7] },
    { R60M, R73, R27R, nil, R27R, R73, R60M }, "pylons 1 to 7")
  local points = data.route.points
  check.eq(#points, 2, "turning points")
  check.eq(points[1].alt_type, "BARO", "barometric altitude")
  check.eq(points[1].speed_locked, true, "locked speed")
  local task = points[1].task.params.tasks[1]
  check.eq(task.id, "EngageTargets", "the fighter's task")
  check.eq(task.params.targetTypes[1], "Planes", "engaging planes")
  check.list({ points[2].x, points[2].y }, { -261000, 647000 }, "the second point at the pilot")
  check.eq(#G.options, 1, "options set")
  check.list({ G.options[1].id, G.options[1].value }, { 0, 0 }, "weapons free")
  check.eq(G.texts[1].text, "Bandit added: MiG-29S at 6562 ft", "the message")
  check.eq(G.texts[1].seconds, 8, "the message's seconds")
  check.contains(last_spawn_line(), "-> OK group=Tolvaro Bandit 1 type=MiG-29S country=RUSSIA side=1 altM=2000 "
    .. "roe=weapons free target=Viper 1-1", "the spawn line")
  check.eq(G.badge().badgeText.text, BADGE_TEXT, "the badge after a good spawn")
end }

S[#S + 1] = { "a red pilot gets an F/A-18C on the blue side with a blue callsign", function(ctx)
  on_map(ctx)
  G.player = G.new_player(-281000, 500, 667000, 1, "Fulcrum 1")
  G.press(FIGHTER, G.hidden_window())
  local g = G.groups[1]
  local unit = g.data.units[1]
  check.eq(g.country, G.COUNTRY_IDS.USA, "country")
  check.eq(unit.type, "F/A-18C", "type")
  check.eq(g.data.frequency, 305, "radio")
  check.eq(unit.alt, 1800, "altitude: 1500 above the terrain, over the lower pilot")
  check.near(unit.heading, math.pi / 2, 1e-9, "heading for the pilot")
  check.eq(type(unit.callsign), "table", "blue callsign")
  check.list({ unit.callsign[1], unit.callsign[2], unit.callsign[3], unit.callsign.name }, { 1, 1, 1, "Enfield11" },
    "the callsign")
  local p = unit.payload
  check.list({ p.fuel, p.flare, p.chaff, p.gun }, { 4900, 15, 30, 100 }, "fuel, flares, chaff, gun")
  local pylons = pylons_of(unit)
  check.list({ pylons[1], pylons[2], pylons[3], pylons[4], pylons[5], pylons[6], pylons[7], pylons[8], pylons[9] },
    { AIM9M, nil, AIM120B, AIM120B, nil, AIM120B, AIM120B, nil, AIM9M }, "pylons 1 to 9")
  check.contains(G.messages()[#G.messages()], "side=2", "the side in the spawn line")
  check.eq(G.count("HOTKEY Ctrl+Shift+b via hidden sinceSpawn=100.020 PRESS"), 1, "the hotkey line")
end }

S[#S + 1] = { "Ctrl+Shift+T gives an unarmed Yak-40 on the other side that circles and evades", function(ctx)
  on_map(ctx)
  G.player = G.new_player(-281000, 500, 667000, 1, "Fulcrum 1")
  G.press(TARGET)
  local g = G.groups[1]
  local unit = g.data.units[1]
  check.eq(g.data.name, "Tolvaro Target 1", "group name")
  check.eq(g.country, G.COUNTRY_IDS.USA, "country on the blue side")
  check.eq(unit.type, "Yak-40", "type")
  check.eq(unit.skill, "Average", "skill")
  check.eq(g.data.task, "Transport", "task")
  check.near(unit.speed, 125, 1e-9, "speed")
  local p = unit.payload
  check.list({ p.fuel, p.flare, p.chaff, p.gun }, { 3080, 30, 30, 0 }, "fuel, flares, chaff, gun")
  check.eq(next(p.pylons), nil, "stores")
  local task = g.data.route.points[1].task.params.tasks[1]
  check.eq(task.id, "Orbit", "the target's task")
  check.eq(task.params.pattern, "Circle", "a circle")
  check.eq(task.params.altitude, 1800, "at its altitude")
  check.near(task.params.speed, 125, 1e-9, "at its speed")
  check.list({ G.options[1].id, G.options[1].value }, { 1, 2 }, "evade fire")
  check.eq(G.texts[1].text, "Target added: Yak-40 at 5906 ft", "the message")
  -- Against a blue pilot the target is red; the counter runs over both kinds.
  G.player = G.new_player(-281000, 500, 667000, 2, "Viper 1-1")
  G.frame(1)
  G.press(TARGET)
  check.eq(G.groups[2].country, G.COUNTRY_IDS.RUSSIA, "country on the red side")
  check.eq(G.groups[2].data.units[1].type, "Yak-40", "type")
  check.eq(G.groups[2].data.name, "Tolvaro Target 2", "the second group's name")
end }

S[#S + 1] = { "over terrain higher than the pilot the aircraft spawns 1500 m above the terrain", function(ctx)
  on_map(ctx)
  G.player = G.new_player(-261000, 1000, 647000, 2, "Viper 1-1")
  G.altitude, G.land_height = 2500, 2400
  G.press(FIGHTER)
  check.eq(G.groups[1].data.units[1].alt, 4000, "altitude from the export terrain height")
  G.altitude, G.land_height = nil, 2400
  G.frame(1)
  G.press(FIGHTER)
  check.eq(G.groups[2].data.units[1].alt, 3900, "altitude from the scripting terrain height")
  check.list({ G.land_points[1].x, G.land_points[1].y }, { -281000, 647000 }, "the terrain asked at the map centre")
end }

S[#S + 1] = { "without a player unit the own aircraft is the pilot, and with neither the bandit flies 50 km along x", function(ctx)
  on_map(ctx)
  G.self_data = { Position = { x = -290000, y = 6000, z = 647000 }, CoalitionID = 1 }
  G.press(FIGHTER)
  local unit = G.groups[1].data.units[1]
  check.eq(unit.type, "F/A-18C", "against the red own aircraft")
  check.eq(unit.alt, 6000, "at the own aircraft's altitude")
  check.eq(G.groups[1].data.route.points[2].x, -290000, "heading for the own aircraft")
  G.self_data = nil
  G.frame(1)
  G.press(FIGHTER)
  local data = G.groups[2].data
  check.eq(data.units[1].type, "MiG-29S", "against no pilot")
  check.eq(G.groups[2].country, G.COUNTRY_IDS.RUSSIA, "on the red side")
  check.list({ data.route.points[2].x, data.route.points[2].y }, { -281000 + 50000, 647000 }, "50 km along x")
  check.eq(data.units[1].alt, 1800, "1500 m above the terrain")
end }

S[#S + 1] = { "the first country of the enemy side is taken, or any country on that side", function(ctx)
  on_map(ctx)
  G.country_ids = { UKRAINE = 1, CJTF_RED = 81 }
  G.country_sides = { [1] = 2, [81] = 1 }
  G.press(FIGHTER)
  check.eq(G.groups[1].country, 81, "CJTF_RED")
  G.country_ids = { UKRAINE = 1, ABKHAZIA = 18 }
  G.country_sides = { [1] = 2, [18] = 1 }
  G.frame(1)
  G.press(FIGHTER)
  check.eq(G.groups[2].country, 18, "any red country")
  G.country_ids = { UKRAINE = 1 }
  G.country_sides = { [1] = 2 }
  G.frame(1)
  G.press(FIGHTER)
  check.eq(#G.groups, 2, "no group without a country")
  check.contains(last_spawn_line(), "-> FAIL no country on side 1", "the spawn line")
  check.eq(G.badge().badgeText.text, FAILURE_TEXT, "the badge")
end }

S[#S + 1] = { "Ctrl+Shift+B held down spawns one aircraft per half second at most", function(ctx)
  on_map(ctx)
  local start = G.time
  for i = 0, 11 do
    G.time = start + i * 0.125
    G.press(FIGHTER)
  end
  check.eq(#G.groups, 3, "groups from 1.375 s of presses")
  check.eq(G.count(" limited"), 9, "limited presses")
  check.eq(G.count(" PRESS"), 3, "counted presses")
  check.eq(G.count("sinceSpawn=0.125 limited"), 3, "the time since the spawn")
end }

S[#S + 1] = { "presses queued while a spawn kept DCS busy do not each spawn again", function(ctx)
  on_map(ctx)
  local dostring_in = net.dostring_in
  net.dostring_in = function(...)
    G.time = G.time + 0.7
    return dostring_in(...)
  end
  G.press(FIGHTER)
  G.press(FIGHTER)
  G.press(FIGHTER)
  check.eq(#G.groups, 1, "groups")
  check.eq(G.count("sinceSpawn=0.000 limited"), 2, "the queued presses")
end }

S[#S + 1] = { "off the F10 map, without a camera or on a client the hotkeys only log", function(ctx)
  on_map(ctx)
  G.camera = E.cockpit_camera()
  G.press(FIGHTER)
  G.camera = nil
  G.press(TARGET)
  G.camera = E.map_camera(0, 0, 5000)
  G.server = false
  G.press(FIGHTER)
  check.eq(#G.chunks, 0, "chunks run")
  check.eq(G.count("  not on the map, no spawn"), 1, "cockpit lines")
  check.eq(G.count("  no camera"), 1, "no-camera lines")
  check.eq(G.count("  not the server, no spawn"), 1, "client lines")
  check.eq(G.count("HOTKEY Ctrl+Shift+t via visible "), 1, "the target hotkey line")
  -- Nothing was spawned, so the next press is not limited.
  G.server = true
  G.press(FIGHTER)
  check.eq(#G.groups, 1, "groups on the server")
end }

S[#S + 1] = { "a failed spawn puts the failure on the badge for 8 s", function(ctx)
  on_map(ctx)
  G.add_group_nil = true
  G.press(FIGHTER)
  check.contains(last_spawn_line(), "-> FAIL addGroup returned nil", "the spawn line")
  check.eq(G.badge().badgeText.text, FAILURE_TEXT, "the badge")
  G.frame(7.9)
  check.eq(G.badge().badgeText.text, FAILURE_TEXT, "the badge after 7.9 s")
  G.frame(0.2)
  check.eq(G.badge().badgeText.text, BADGE_TEXT, "the badge after 8 s")
  G.add_group_nil, G.add_group_error = nil, "unknown unit type"
  G.press(FIGHTER)
  check.contains(last_spawn_line(), "-> FAIL addGroup: unknown unit type", "the spawn line")
  G.add_group_error = nil
  G.dostring_error = "[string] broken state"
  G.frame(1)
  G.press(FIGHTER)
  check.eq(G.count("FAILED net.dostring_in: [string] broken state"), 1, "the failed call")
  check.eq(G.badge().badgeText.text, FAILURE_TEXT, "the badge")
  -- The end of the simulation clears it.
  G.stop()
  check.eq(G.badge().badgeText.text, BADGE_TEXT, "the badge after the simulation stopped")
  check.eq(G.count("simulation stopped; spawns=3"), 1, "the stop line")
end }

S[#S + 1] = { "the badge shows in the briefing, 6 s after the first unpaused frame and on the F10 map", function(ctx)
  G.setup(ctx)
  G.load()
  G.camera = E.cockpit_camera()
  G.mission()
  local badge = G.badge()
  G.frame(30)
  check.truthy(D.shown(badge), "the badge in the briefing")
  G.paused = false
  G.frame()
  G.frame(5.9)
  check.truthy(D.shown(badge), "the badge 5.9 s after the briefing")
  G.frame(0.2)
  check.falsy(D.shown(badge), "the badge 6.1 s after the briefing")
  check.list({ badge.bounds.x, badge.bounds.y }, { 10, 40 }, "the hidden badge's place")
  G.camera = E.map_camera(0, 0, 5000)
  G.frame()
  check.truthy(D.shown(badge), "the badge on the F10 map")
  G.camera = E.cockpit_camera()
  G.frame()
  check.falsy(D.shown(badge), "the badge back in the cockpit")
  -- Pausing again does not bring it back; the next mission does.
  G.paused = true
  G.frame()
  check.falsy(D.shown(badge), "the badge when paused later")
  G.stop()
  check.falsy(D.shown(badge), "the badge after the simulation stopped")
  G.mission()
  check.truthy(D.shown(badge), "the badge in the next briefing")
  local visible = 0
  for _, call in ipairs(badge.calls) do if call.name == "setVisible" then visible = visible + 1 end end
  check.eq(visible, 1, "setVisible calls")
end }

S[#S + 1] = { "failing DCS calls are logged within a quota and never reach DCS", function(ctx)
  G.setup(ctx)
  G.load()
  G.mission()
  Export = nil
  G.paused = false
  G.frame()
  for _ = 1, 30 do G.frame(1) end
  local missing = G.count("MISSING Export.LoGetCameraPosition is nil")
  check.eq(missing, 10, "missing-function lines")
  check.eq(G.count("MISSING Export.LoGetCameraPosition is nil (further ones are not logged)"), 1, "the last")
  G.press(FIGHTER)
  check.eq(#G.chunks, 0, "chunks without a camera")
  -- A failing call is logged and the press goes on: only a plain "not the server" stops it.
  Export = { LoGetCameraPosition = function() return G.camera end }
  DCS.isServer = function() error("server state unknown", 0) end
  G.press(FIGHTER)
  check.eq(G.count("FAILED DCS.isServer: server state unknown"), 1, "the failed call")
  check.eq(#G.groups, 1, "groups")
  D.failing = { setBounds = true, setText = true }
  G.stop()
  G.mission()
  check.eq(G.count("FAILED badge setBounds: "), 1, "the failed window call")
  check.eq(G.count("dxgui setBounds failed"), 1, "its reason")
  DCS.getPause = nil
  G.frame(1)
  check.eq(G.count("MISSING DCS.getPause is nil"), 1, "a missing pause function")
end }

return S
