-- Scenarios of the collector script, loaded through the real hook line in Export.lua and talking to
-- a bridge stand-in on the real ports 9790 and 9791.
local check = require("check")
local E = require("export_env")
local B = require("bridge")
local D = require("dialogs")
local socket = require("socket")

local HEADER = {
  "collector:version", "collector:isSrsInstalled", "collector:contacts", "collector:payload",
  "collector:cockpitPresent",
}

-- Export.lua of a user with another exporter whose callbacks record their calls.
local OTHER_EXPORTER = [[
other_calls = {}
function LuaExportStart() other_calls[#other_calls + 1] = "start" end
function LuaExportBeforeNextFrame() other_calls[#other_calls + 1] = "before" end
function LuaExportAfterNextFrame() other_calls[#other_calls + 1] = "after" end
function LuaExportStop() other_calls[#other_calls + 1] = "stop" end
]]

local function with(list, ...)
  local out = {}
  for _, v in ipairs(list) do out[#out + 1] = v end
  for _, v in ipairs({ ... }) do out[#out + 1] = v end
  return out
end

-- A running collector with a bridge stand-in: Export.lua holds `export_lua` or just the hook line.
local function running(ctx, opts)
  opts = opts or {}
  E.setup(ctx, opts)
  B.open()
  E.run_export_lua(opts.export_lua or (E.HOOK_LINE .. "\n"))
  E.start()
  if opts.fly ~= false then E.fly() end
end

-- The collector's warnings; the map marker's own (it finds no dialog modules here) are left out.
local function warnings()
  local out = {}
  for _, entry in ipairs(E.logs) do
    if entry.level == "WARNING" and entry.message:sub(1, 8) ~= "reticle " then
      out[#out + 1] = entry.message
    end
  end
  return out
end

-- A UDP socket on the collector's port, bound by the scenario itself: it binds only while the
-- collector does not hold the port.
local function try_bind_collector_port()
  local sock = socket.udp()
  local ok = sock:setsockname("127.0.0.1", B.COLLECTOR_PORT)
  if ok then return sock end
  sock:close()
  return nil
end

local function dashed(...)
  local parts = {}
  local items = { ... }
  for i = 1, #items, 2 do
    parts[#parts + 1] = "-----------------------------------------\n" .. items[i] .. "\n" .. items[i + 1] .. "\n"
  end
  return table.concat(parts)
end

-- Whether the bytes are UTF-8: the table of well-formed byte sequences of Unicode 3.2 onwards.
local function is_utf8(s)
  local i, n = 1, #s
  while i <= n do
    local c = s:byte(i)
    local len, lo, hi
    if c < 0x80 then len = 1
    elseif c >= 0xC2 and c <= 0xDF then len = 2
    elseif c == 0xE0 then len, lo = 3, 0xA0
    elseif c == 0xED then len, hi = 3, 0x9F
    elseif c >= 0xE1 and c <= 0xEF then len = 3
    elseif c == 0xF0 then len, lo = 4, 0x90
    elseif c == 0xF4 then len, hi = 4, 0x8F
    elseif c >= 0xF1 and c <= 0xF3 then len = 4
    else return false end
    for k = 1, len - 1 do
      local b = s:byte(i + k)
      local low, high = 0x80, 0xBF
      if k == 1 then low, high = lo or 0x80, hi or 0xBF end
      if not b or b < low or b > high then return false end
    end
    i = i + len
  end
  return true
end

local S = {}

S[#S + 1] = { "two hook lines load the collector once and it chains the earlier callbacks", function(ctx)
  E.setup(ctx)
  B.open()
  local forward_slashes = [[dofile(require('lfs').writedir()..'Scripts/Tolvaro/collectorScript.lua');]]
  E.run_export_lua(OTHER_EXPORTER .. E.HOOK_LINE .. "\n" .. forward_slashes .. "\n")
  check.eq(TolvaroCollectorLoaded, true, "the loaded flag")
  E.start()
  check.eq(E.count_logs("Tolvaro Collector started (send->127.0.0.1:9790, recv<-9791)", "INFO"), 1,
    "started lines")
  check.list(other_calls, { "start" }, "the other exporter's calls")
  E.frame()
  check.list(other_calls, { "start", "before", "after" }, "the other exporter's calls")
  E.fly()
  local _, names = B.read("read loget:LoGetSelfData.Name")
  check.list(names, with(HEADER, "loget:LoGetSelfData.Name"), "members")
  -- One packet per read line, not one per chained copy.
  B.send("read loget:LoGetSelfData.Name")
  check.eq(#B.frames_collecting(5), 1, "packets for one read line")
  E.stop()
  check.eq(E.count_logs("Tolvaro Collector stopped"), 1, "stopped lines")
  local count = {}
  for _, call in ipairs(other_calls) do count[call] = (count[call] or 0) + 1 end
  check.eq(count.start, 1, "the other exporter's starts")
  check.eq(count.stop, 1, "the other exporter's stops")
  check.eq(other_calls[#other_calls], "stop", "the other exporter's last call")
  check.eq(count.before, count.after, "before-frame and after-frame calls")
  check.truthy(count.before >= 7, "one before-frame call per frame")
  -- A second copy would have tried to bind the port and logged its failure.
  check.eq(#E.find_logs("", "ERROR"), 0, "errors")
  check.eq(#E.find_logs("", "WARNING"), #E.find_logs("reticle ", "WARNING"), "the collector's warnings")
end }

S[#S + 1] = { "the earlier exporter runs first, before the collector does its work", function(ctx)
  E.setup(ctx)
  B.open()
  E.run_export_lua([[
seen_started = nil
function LuaExportStart()
  local n = 0
  for _, entry in ipairs(require("export_env").logs) do
    if entry.message:find("Tolvaro Collector started", 1, true) then n = n + 1 end
  end
  seen_started = n
end
]] .. E.HOOK_LINE .. "\n")
  E.start()
  check.eq(seen_started, 0, "started lines when the earlier start ran")
  check.eq(E.count_logs("Tolvaro Collector started"), 1, "started lines after")
end }

S[#S + 1] = { "a read line is answered with the header and then one member per key in request order", function(ctx)
  running(ctx)
  local sim = E.sim
  sim.devices[0].arguments[12] = 0.5
  sim.devices[0].is_on = function() return true end
  sim.devices[25] = E.new_device(25)
  sim.devices[25].arguments[3001] = 1
  sim.indications[4] = dashed("txt_UP", "HELLO", "txt_DOWN", "LINE 1\nLINE 2")
  local keys = {
    "arg:25:3001", "indication:4:txt_UP", "loget:LoGetSelfData.Name", "device:0:is_on", "arg:0:12",
    "loget:LoGetSelfData.LatLongAlt.Alt", "indication:4:txt_DOWN", "collector:mapPointSelected",
  }
  local packet, names, text = B.read("read " .. table.concat(keys, " "))
  check.list(names, with(HEADER, unpack(keys)), "members")
  check.contains(text, '{"collector:version":8,"collector:isSrsInstalled":false,"collector:contacts":[],'
    .. '"collector:payload":null,"collector:cockpitPresent":true,', "the header")
  check.contains(text, '"arg:25:3001":1.000000', "a whole number with six decimals")
  check.contains(text, '"arg:0:12":0.500000', "a fraction with six decimals")
  check.contains(text, '"loget:LoGetSelfData.LatLongAlt.Alt":3000.000000', "a walked path")
  check.contains(text, '"device:0:is_on":true', "a boolean getter")
  check.contains(text, '"collector:mapPointSelected":null}', "no map point")
  check.eq(packet["indication:4:txt_UP"], "HELLO", "a display value")
  check.eq(packet["indication:4:txt_DOWN"], "LINE 1\nLINE 2", "a display value of two lines")
  check.eq(packet["loget:LoGetSelfData.Name"], "F-16C_50", "a string")
  check.eq(E.count_logs("request: 8 reads, 0 refused", "INFO"), 1, "the request line")
end }

S[#S + 1] = { "values are written in their formats: six decimals, null, escaped strings", function(ctx)
  running(ctx)
  local d = E.sim.devices[0]
  d.get_nan = function() return 0 / 0 end
  d.get_inf = function() return math.huge end
  d.get_minus = function() return -2.25 end
  d.get_text = function() return 'a"b\\c\nd\re\tf\1g' end
  d.get_nothing = function() return nil end
  d.get_fails = function() error("device broke") end
  d.get_false = function() return false end
  d.get_function = function() return print end
  local _, _, text = B.read("read device:0:get_nan device:0:get_inf device:0:get_minus device:0:get_text "
    .. "device:0:get_nothing device:0:get_fails device:0:get_false device:0:get_function device:7:get_x")
  check.contains(text, '"device:0:get_nan":null,"device:0:get_inf":null,"device:0:get_minus":-2.250000,'
    .. '"device:0:get_text":"a\\"b\\\\c\\nd\\re\\tf\\u0001g","device:0:get_nothing":null,'
    .. '"device:0:get_fails":null,"device:0:get_false":false,"device:0:get_function":null,'
    .. '"device:7:get_x":null}', "the members")
  local packet = B.decode(text)
  check.eq(packet["device:0:get_text"], 'a"b\\c\nd\re\tf\1g', "the decoded string")
end }

S[#S + 1] = { "bad keys are refused with their reasons and every other key still answers", function(ctx)
  running(ctx)
  E.sim.devices[0].arguments[12] = 0.25
  local cases = {
    { "blink:1", "unknown channel" },
    { "arg:3001", "expected <device>:<argument>, both digits" },
    { "indication:4:a.b", "expected <display>:<key>" },
    { "device:0", "expected <device>:<method>" },
    { "device:0:set_x", "method is not a get_ or is_ getter" },
    { "loget:Foo", "root is not a LoGet export function" },
    { "loget:LoGetNothing", "this DCS build exports no such function" },
    { "loget:LoGetWorldObjects", "handled by the collector's world scan" },
    { "loget:LoGetSelfData..Name", "malformed path: ..Name" },
    { "loget:LoGetSelfData.a-b", "bad path segment: a-b" },
    { "collector:other", "unknown collector value" },
    { "arg:a:1", "expected <device>:<argument>, both digits" },
  }
  -- Five refusals are logged one by one per request, so the cases go in requests of five.
  for first = 1, #cases, 5 do
    local keys = { "arg:0:12" }
    for i = first, math.min(first + 4, #cases) do keys[#keys + 1] = cases[i][1] end
    local packet, names = B.read("read " .. table.concat(keys, " "))
    check.list(names, with(HEADER, "arg:0:12"), "members of request " .. first)
    check.eq(packet["arg:0:12"], 0.25, "the good key")
  end
  local expected = {}
  for i, case in ipairs(cases) do expected[i] = "refused " .. case[1] .. ": " .. case[2] end
  check.list(warnings(), expected, "refusal warnings")
  check.eq(E.count_logs("request: 1 reads, 5 refused", "INFO"), 2, "request lines of five refusals")
  check.eq(E.count_logs("request: 1 reads, 2 refused", "INFO"), 1, "request line of two refusals")
end }

S[#S + 1] = { "more than five refusals in one request are summed up in one line", function(ctx)
  running(ctx)
  local keys = {}
  for i = 1, 8 do keys[i] = "nope" .. i .. ":x" end
  local _, names = B.read("read loget:LoGetSelfData.Name " .. table.concat(keys, " "))
  check.list(names, with(HEADER, "loget:LoGetSelfData.Name"), "members")
  check.list(warnings(), {
    "refused nope1:x: unknown channel", "refused nope2:x: unknown channel",
    "refused nope3:x: unknown channel", "refused nope4:x: unknown channel",
    "refused nope5:x: unknown channel", "and 3 more refused",
  }, "warnings")
  check.eq(E.count_logs("request: 1 reads, 8 refused", "INFO"), 1, "the request line")
end }

S[#S + 1] = { "refusal warnings of repeated bad requests have a quota", function(ctx)
  running(ctx)
  for i = 1, 12 do B.read("read loget:LoGetSelfData.Name bad" .. i .. ":x") end
  local w = warnings()
  check.eq(#w, 10, "refusal warnings")
  check.eq(w[9], "refused bad9:x: unknown channel", "the ninth")
  check.eq(w[10], "refused bad10:x: unknown channel (further ones are not logged)", "the last")
  check.eq(E.count_logs("request: 1 reads, 1 refused", "INFO"), 12, "request lines")
end }

S[#S + 1] = { "a repeated request reuses its readers and calls each source once per packet", function(ctx)
  running(ctx)
  local sim = E.sim
  sim.devices[25] = E.new_device(25)
  sim.devices[25].arguments[3001], sim.devices[25].arguments[3002] = 1, 0
  sim.devices[25].get_mode = function() return "NAV" end
  sim.indications[4] = dashed("a", "1", "b", "2")
  local line = "read arg:25:3001 arg:25:3002 device:25:get_mode indication:4:a indication:4:b "
    .. "loget:LoGetSelfData.Name loget:LoGetSelfData.CoalitionID loget:LoGetSelfData.Name"
  B.read(line)
  E.calls.device, E.calls.indication, E.calls.roots = {}, {}, {}
  local packet, names = B.read(line)
  check.eq(E.count_logs("request: 7 reads, 0 refused"), 1, "request lines (a key named twice reads once)")
  check.eq(#names, #HEADER + 7, "members")
  check.eq(packet["loget:LoGetSelfData.CoalitionID"], 2, "a number")
  local per_device = {}
  for _, id in ipairs(E.calls.device) do per_device[id] = (per_device[id] or 0) + 1 end
  check.eq(per_device[25], 1, "GetDevice(25) calls in one packet")
  check.eq(per_device[0], 1, "GetDevice(0) calls in one packet")
  check.list(E.calls.indication, { 4 }, "list_indication calls in one packet")
  check.eq(E.calls.roots.LoGetSelfData, 1, "LoGetSelfData calls in one packet")
end }

S[#S + 1] = { "no read line, no packet; no packet before the own aircraft reports; a lost one still gets packets", function(ctx)
  running(ctx, { fly = false })
  check.eq(#B.frames_collecting(30), 0, "packets without a read line")
  B.send("read loget:LoGetSelfData.Name")
  check.eq(#B.frames_collecting(30), 0, "packets before the aircraft reported data")
  E.fly()
  local packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(packet["loget:LoGetSelfData.Name"], "F-16C_50", "the name")
  E.sim.self_data = nil
  packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(packet["loget:LoGetSelfData.Name"], B.null, "the lost aircraft's name")
  -- A new mission starts without data again.
  E.stop()
  E.start()
  B.send("read loget:LoGetSelfData.Name")
  check.eq(#B.frames_collecting(30), 0, "packets in a new mission before the aircraft reported")
end }

S[#S + 1] = { "a read line that names no keys is ignored with a warning", function(ctx)
  running(ctx)
  B.send("read")
  B.send("read   ")
  check.eq(#B.frames_collecting(5), 0, "packets")
  check.list(warnings(), { "ignored, the request names no keys", "ignored, the request names no keys" },
    "warnings")
end }

S[#S + 1] = { "a key whose value is a table answers null and is warned about once", function(ctx)
  running(ctx)
  for _ = 1, 3 do
    local packet = B.read("read loget:LoGetSelfData.LatLongAlt loget:LoGetSelfData.LatLongAlt.Lat")
    check.eq(packet["loget:LoGetSelfData.LatLongAlt"], B.null, "the table")
    check.eq(packet["loget:LoGetSelfData.LatLongAlt.Lat"], 42.1, "a field below it")
  end
  check.list(warnings(), { "loget:LoGetSelfData.LatLongAlt stops on a table, sending null" }, "warnings")
end }

S[#S + 1] = { "paths walk fields, array positions, and missing fields give null", function(ctx)
  running(ctx)
  E.sim.self_data.Stations = { { count = 2 }, { count = 0 } }
  local packet = B.read("read loget:LoGetSelfData.Stations.1.count loget:LoGetSelfData.Stations.2.count "
    .. "loget:LoGetSelfData.Stations.3.count loget:LoGetSelfData.Name.x loget:LoGetModelTime")
  check.eq(packet["loget:LoGetSelfData.Stations.1.count"], 2, "first station")
  check.eq(packet["loget:LoGetSelfData.Stations.2.count"], 0, "second station")
  check.eq(packet["loget:LoGetSelfData.Stations.3.count"], B.null, "no third station")
  check.eq(packet["loget:LoGetSelfData.Name.x"], B.null, "a field of a string")
  check.eq(type(packet["loget:LoGetModelTime"]), "number", "a root without a path")
end }

S[#S + 1] = { "displays are read in the dashed form and in the older KEY = 'value' form, with escapes", function(ctx)
  running(ctx)
  E.sim.indications[1] = dashed("txt UP", "A", "100%", "FULL", "a b%c", "X")
  E.sim.indications[2] = "ALT = '12000'\nMODE = 'NAV HOLD'\n"
  E.sim.indications[3] = nil
  local packet = B.read("read indication:1:txt%20UP indication:1:100%25 indication:1:a%20b%25c "
    .. "indication:2:ALT indication:2:MODE indication:3:ALT indication:1:missing")
  check.eq(packet["indication:1:txt%20UP"], "A", "%20 for a blank")
  check.eq(packet["indication:1:100%25"], "FULL", "%25 for a percent sign")
  check.eq(packet["indication:1:a%20b%25c"], "X", "both escapes")
  check.eq(packet["indication:2:ALT"], "12000", "the older form")
  check.eq(packet["indication:2:MODE"], "NAV HOLD", "the older form with a blank")
  check.eq(packet["indication:3:ALT"], B.null, "a display with nothing")
  check.eq(packet["indication:1:missing"], B.null, "a missing key")
end }

S[#S + 1] = { "bytes that are not UTF-8 in string values are replaced, so every packet is UTF-8", function(ctx)
  running(ctx)
  local R = "\239\191\189"
  E.sim.indications[1] = dashed(
    "bad", "a\255b",
    "cut", "end\195",
    "overlong", "\192\175x",
    "surrogate", "\237\160\128y",
    "good", "caf\195\169 \240\159\155\171",
    "truncated", "\240\159\155z")
  E.sim.self_data.Name = "F-16\128C"
  local packet, _, text = B.read("read indication:1:bad indication:1:cut indication:1:overlong "
    .. "indication:1:surrogate indication:1:good indication:1:truncated loget:LoGetSelfData.Name")
  check.truthy(is_utf8(text), "the packet is UTF-8")
  check.eq(packet["indication:1:bad"], "a" .. R .. "b", "a stray byte")
  check.eq(packet["indication:1:cut"], "end" .. R, "a cut-off sequence at the end")
  check.eq(packet["indication:1:overlong"], R .. R .. "x", "an overlong form")
  check.eq(packet["indication:1:surrogate"], R .. R .. R .. "y", "an encoded surrogate")
  check.eq(packet["indication:1:good"], "caf\195\169 \240\159\155\171", "valid text stays")
  check.eq(packet["indication:1:truncated"], R .. "z", "a truncated four-byte sequence")
  check.eq(packet["loget:LoGetSelfData.Name"], "F-16" .. R .. "C", "a name")
end }

S[#S + 1] = { "a reply that would be over one datagram stays under 65507 bytes, warned once per request", function(ctx)
  running(ctx)
  E.sim.indications[1] = dashed("big", string.rep("A", 40000), "big2", string.rep("B", 40000),
    "small", "ok")
  local line = "read indication:1:big indication:1:big2 indication:1:small"
  for _ = 1, 3 do
    local packet, names, text = B.read(line)
    check.truthy(#text <= 65507, "the packet's size " .. #text)
    check.list(names, with(HEADER, "indication:1:big", "indication:1:big2", "indication:1:small"), "members")
    check.eq(#packet["indication:1:big"], 40000, "the first value, which fits")
    check.eq(packet["indication:1:big2"], B.null, "the value that does not fit")
    check.eq(packet["indication:1:small"], "ok", "a later value that fits")
  end
  check.list(warnings(), {
    "the reply to this request is over 65507 bytes; values that do not fit are sent as null",
  }, "warnings after three replies to one request")
  -- A value of its own over the limit, in a new request: warned again.
  E.sim.indications[2] = dashed("huge", string.rep("C", 70000))
  local packet, _, text = B.read("read indication:2:huge indication:1:small")
  check.truthy(#text <= 65507, "the packet's size " .. #text)
  check.eq(packet["indication:2:huge"], B.null, "the huge value")
  check.eq(packet["indication:1:small"], "ok", "the small one")
  check.eq(#warnings(), 2, "warnings after a second request")
end }

S[#S + 1] = { "contacts list aircraft and early-warning radars, at most 150, from the world scan every 60th frame", function(ctx)
  running(ctx)
  local world = {}
  for i = 1, 200 do
    world[1000 + i] = { Name = "MiG-29S", Coalition = "Enemies", LatLongAlt = { Lat = 42 + i / 1000, Long = 41, Alt = 1000 },
      Type = { level1 = 1, level2 = 1, level3 = 1, level4 = 3 } }
  end
  world[1] = { Name = "55G6 EWR", Coalition = "Enemies", LatLongAlt = { Lat = 43, Long = 44, Alt = 10 },
    Type = { level1 = 2, level2 = 16, level3 = 101, level4 = 1 } }
  world[2] = { Name = "T-72B", Coalition = "Enemies", LatLongAlt = { Lat = 43, Long = 44, Alt = 10 },
    Type = { level1 = 2, level2 = 17, level3 = 17, level4 = 1 } }
  E.sim.world = world
  local packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(#packet["collector:contacts"], 0, "contacts before the first scan")
  B.frames_collecting(60)
  packet = B.read("read loget:LoGetSelfData.Name")
  local contacts = packet["collector:contacts"]
  check.eq(#contacts, 150, "contacts")
  local radars, tanks = 0, 0
  for _, c in ipairs(contacts) do
    if c.name == "55G6 EWR" then
      radars = radars + 1
      check.eq(c.level1, 2, "radar level1")
      check.eq(c.level3, 101, "radar level3")
    elseif c.name == "T-72B" then
      tanks = tanks + 1
    else
      check.eq(c.coalition, "Enemies", "coalition")
      check.near(c.altFt, 3280.84, 0.001, "altitude in feet")
      check.eq(c.lonDeg, 41, "longitude")
      check.eq(c.level1, 1, "aircraft level1")
    end
  end
  check.eq(tanks, 0, "ground vehicles")
  local _, _, text = B.read("read loget:LoGetSelfData.Name")
  check.truthy(text:find('{"name":"MiG-29S","coalition":"Enemies","latDeg":', 1, true), "member order of a contact")
end }

S[#S + 1] = { "stores are sent per pylon in pylon order, only those that carry something", function(ctx)
  running(ctx)
  E.sim.payload = {
    CurrentStation = 0,
    Stations = {
      [5] = { CLSID = "c5", container = true, count = 1, weapon = { level1 = 4, level2 = 15, level3 = 47, level4 = 108 } },
      [1] = { CLSID = "c1", container = false, count = 2, weapon = { level1 = 4, level2 = 4, level3 = 7, level4 = 24 } },
      [2] = { CLSID = "c2", container = false, count = 0, weapon = { level1 = 4, level2 = 4, level3 = 7, level4 = 24 } },
      [3] = { CLSID = "c3", container = false, count = 1, weapon = { level1 = 9, level2 = 9, level3 = 9, level4 = 9 } },
    },
    Cannon = { shells = 510 },
  }
  E.sim.type_names = { ["4.4.7.24"] = "AIM-9M", ["4.15.47.108"] = "ALQ-184" }
  local packet, _, text = B.read("read loget:LoGetSelfData.Name")
  check.contains(text, '"collector:payload":{"stations":{'
    .. '"1":{"name":"AIM-9M","count":2,"container":false},'
    .. '"3":{"name":null,"count":1,"container":false},'
    .. '"5":{"name":"ALQ-184","count":1,"container":true}},"cannonShells":510}', "the stores")
  check.eq(packet["collector:payload"].cannonShells, 510, "shells")
end }

S[#S + 1] = { "the header says whether SRS is installed and whether there is a cockpit", function(ctx)
  E.setup(ctx)
  E.write_file(E.root .. "/Mods/Services/DCS-SRS/Scripts/DCS-SimpleRadioStandalone.lua", "-- SRS\n")
  E.sim.devices[0] = nil
  B.open()
  E.run_export_lua(E.HOOK_LINE .. "\n")
  E.start()
  E.fly()
  local packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(packet["collector:isSrsInstalled"], true, "SRS")
  check.eq(packet["collector:cockpitPresent"], false, "cockpit")
end }

S[#S + 1] = { "clickable lines press the device's command; failures and malformed lines are logged", function(ctx)
  running(ctx)
  local sim = E.sim
  sim.devices[25] = E.new_device(25)
  sim.devices[17] = E.new_device(17)
  sim.devices[17].click_error = "the switch is stuck"
  B.send("clickable 25:3001 1")
  B.send("clickable 25:3001 0")
  B.send("clickable 25:3002 0.5")
  B.send("clickable 99:3001 1")
  B.send("clickable 17:3004 -1")
  B.send("clickable 25-3001 1")
  B.send("clickable 25:3001 nan")
  B.send("clickable 25:3001")
  B.send("clickable 25:3001 1 2")
  E.frames(2)
  local clicks = sim.devices[25].clicks
  check.eq(#clicks, 3, "clicks")
  check.eq(clicks[1].command, 3001, "first command")
  check.eq(clicks[1].value, 1, "first value")
  check.eq(clicks[2].value, 0, "release value")
  check.eq(clicks[3].command, 3002, "third command")
  check.eq(clicks[3].value, 0.5, "third value")
  check.eq(E.count_logs("write ok (device=25, command=3001, value=1)", "INFO"), 1, "ok line")
  check.eq(E.count_logs("write ok (device=25, command=3002, value=0.5)", "INFO"), 1, "ok line")
  check.eq(E.count_logs("write failed (device=99, command=3001, value=1): no such device", "ERROR"), 1,
    "missing device")
  check.eq(#E.find_logs("write failed (device=17, command=3004, value=-1): ", "ERROR"), 1, "failed click")
  check.contains(E.find_logs("write failed (device=17")[1].message, "the switch is stuck", "the error")
  check.list(warnings(), {
    'downlink ignored, malformed line: "clickable 25-3001 1"',
    'downlink ignored, malformed line: "clickable 25:3001 nan"',
    'downlink ignored, malformed line: "clickable 25:3001"',
    'downlink ignored, malformed line: "clickable 25:3001 1 2"',
  }, "warnings")
end }

S[#S + 1] = { "a highlight is drawn, extended when asked again, and removed when its model time is up", function(ctx)
  running(ctx)
  local sim, calls = E.sim, E.calls
  B.send("highlight LEFT_MFD 2")
  E.frame()
  check.eq(#calls.highlight, 1, "draws")
  check.eq(calls.highlight[1].id, 3000, "the first id of the pool")
  check.eq(calls.highlight[1].element, "LEFT_MFD", "the element")
  local lit_at = sim.model_time
  -- Asked again for 5 s: no second draw, the expiry moves.
  B.send("highlight LEFT_MFD 5")
  E.frame()
  check.eq(#calls.highlight, 1, "draws after the second request")
  E.frames(1, lit_at + 4 - sim.model_time)
  check.eq(#calls.remove, 0, "removals 4 s later")
  E.frames(1, lit_at + 5.05 - sim.model_time)
  check.list(calls.remove, { 3000 }, "removals after 5 s")
  check.eq(sim.highlights[3000], nil, "the highlight is gone")
  -- Other elements take the next ids; a freed id goes to the back of the free list.
  B.send("highlight RIGHT_MFD 1")
  B.send("highlight UFC 1")
  E.frame()
  check.eq(calls.highlight[2].id, 3001, "the next id")
  check.eq(calls.highlight[3].id, 3002, "the one after")
end }

S[#S + 1] = { "malformed highlight lines are warned about and ignored", function(ctx)
  running(ctx)
  for _, line in ipairs({ "highlight X 0", "highlight X -1", "highlight X", "highlight X inf",
      "highlight X nan", "highlight  2" }) do
    B.send(line)
  end
  E.frames(2)
  check.eq(#E.calls.highlight, 0, "draws")
  check.eq(#warnings(), 6, "warnings")
  check.eq(warnings()[1], 'downlink ignored, malformed line: "highlight X 0"', "first warning")
end }

S[#S + 1] = { "a draw that does not show is undone and its id freed", function(ctx)
  running(ctx)
  E.sim.hidden_elements = { NOWHERE = true }
  B.send("highlight NOWHERE 3")
  E.frame()
  check.list(E.calls.remove, { 3000 }, "the undone draw")
  check.list(warnings(), { "highlight NOWHERE did not show" }, "warnings")
  -- Asked again: drawn again, since it never showed.
  B.send("highlight NOWHERE 3")
  E.frame()
  check.eq(#E.calls.highlight, 2, "draws")
  check.eq(E.calls.highlight[2].id, 3001, "the next free id")
  E.sim.draw_error = "no cockpit"
  B.send("highlight OTHER 3")
  E.frame()
  check.eq(warnings()[3], "highlight OTHER did not show", "a draw that failed")
end }

local function light(first, last, seconds_of)
  local batch = 0
  for i = first, last do
    B.send("highlight E" .. i .. " " .. seconds_of(i))
    batch = batch + 1
    if batch == 100 then E.frame(0); batch = 0 end
  end
  E.frame(0)
end

S[#S + 1] = { "with every id in use the highlight that expires soonest gives way; retired ids come back after retries", function(ctx)
  running(ctx)
  local sim, calls = E.sim, E.calls
  -- E1 gets 3000, whose removal fails: it is retired, not freed.
  sim.remove_fails = { [3000] = true }
  B.send("highlight E1 1")
  E.frame(0)
  E.frames(1, 1.5)
  check.list(calls.remove, { 3000 }, "the failed removal")
  -- 299 more take every other id; the low-ids warning comes once.
  light(2, 300, function(i) return 100 + i end)
  check.eq(#calls.highlight, 300, "draws")
  local ids = {}
  for _, c in ipairs(calls.highlight) do ids[c.id] = (ids[c.id] or 0) + 1 end
  check.eq(ids[3000], 1, "the retired id is not handed out again")
  check.eq(E.count_logs("highlight ids running low: 32 free", "WARNING"), 1, "low-ids warning")
  -- A new element with no id free: E2, which expires soonest, gives its id.
  B.send("highlight NEW 50")
  E.frame(0)
  local last = calls.highlight[#calls.highlight]
  check.eq(last.element, "NEW", "the new element")
  check.eq(last.id, 3001, "E2's id")
  check.eq(calls.remove[#calls.remove], 3001, "E2 removed first")
  -- Removal works again: the retry every 300 frames frees 3000.
  sim.remove_fails = nil
  E.frames(300, 0)
  check.eq(calls.remove[#calls.remove], 3000, "the retried removal")
  B.send("highlight AFTER 10")
  E.frame(0)
  check.eq(calls.highlight[#calls.highlight].id, 3000, "the retired id, free again")
end }

S[#S + 1] = { "a flood of datagrams is taken at most 128 a frame, the rest the next frame", function(ctx)
  running(ctx)
  for i = 1, 150 do B.send("highlight F" .. i .. " 30") end
  E.frame(0)
  check.eq(#E.calls.highlight, 128, "draws after one frame")
  E.frame(0)
  check.eq(#E.calls.highlight, 150, "draws after two frames")
end }

S[#S + 1] = { "an unknown kind is logged clipped and quoted, and repeats have a quota", function(ctx)
  running(ctx)
  B.send("blink " .. string.rep("x", 500))
  B.send("blink a\nINFO Tolvaro: forged\"")
  B.send("")
  for i = 1, 10 do B.send("wink " .. i) end
  E.frames(2)
  local w = warnings()
  check.eq(#w, 10, "warnings")
  check.eq(w[1], 'downlink ignored, unknown channel: "blink ' .. string.rep("x", 74) .. '..."', "a clipped line")
  check.eq(w[2], 'downlink ignored, unknown channel: "blink a\\x0aINFO Tolvaro: forged\\""', "escapes")
  check.eq(w[3], 'downlink ignored, unknown channel: ""', "an empty datagram")
  check.eq(w[10], 'downlink ignored, unknown channel: "wink 7" (further ones are not logged)', "the last")
  -- Keys from outside are clipped too.
  B.read("read loget:LoGetSelfData.Name loget:" .. string.rep("A", 300))
  check.eq(E.find_logs("refused loget:")[1].message,
    "refused loget:" .. string.rep("A", 74) .. "...: root is not a LoGet export function", "a clipped key")
end }

S[#S + 1] = { "a failed socket library load is logged once, the collector stays off and other tools keep running", function(ctx)
  E.setup(ctx)
  package.loaded.socket = nil
  package.preload.socket = function() error("module 'socket.core' not found", 0) end
  E.run_export_lua(OTHER_EXPORTER .. E.HOOK_LINE .. "\n")
  E.start()
  E.frames(3)
  E.stop()
  E.start()
  E.frames(2)
  check.eq(E.count_logs("cannot load the socket library, the collector is off: ", "ERROR"), 1, "error lines")
  check.contains(E.logs[1].message, "module 'socket.core' not found", "the reason")
  check.eq(E.count_logs("Tolvaro Collector started"), 0, "started lines")
  check.eq(E.count_logs("Tolvaro Collector stopped"), 0, "stopped lines")
  check.eq(#other_calls, 1 + 6 + 1 + 1 + 4, "the other exporter's calls")
  check.eq(other_calls[8], "stop", "the other exporter's stop")
  package.preload.socket = nil
  package.loaded.socket = socket
  local sock = try_bind_collector_port()
  check.truthy(sock, "the collector port is free")
  sock:close()
end }

S[#S + 1] = { "a failed bind is logged once, the collector stays off, and a later mission binds", function(ctx)
  E.setup(ctx)
  B.open()
  local holder = try_bind_collector_port()
  check.truthy(holder, "the scenario holds the collector port")
  E.run_export_lua(OTHER_EXPORTER .. E.HOOK_LINE .. "\n")
  E.start()
  E.fly()
  B.send("read loget:LoGetSelfData.Name")
  check.eq(#B.frames_collecting(3), 0, "packets while the port is held")
  E.stop()
  E.start()
  E.frame()
  local errors = E.find_logs("cannot listen on 127.0.0.1:9791, the collector is off: ", "ERROR")
  check.eq(#errors, 1, "error lines")
  check.eq(E.count_logs("Tolvaro Collector started"), 0, "started lines")
  check.list(other_calls, { "start", "before", "after", "before", "after", "before", "after", "stop",
    "start", "before", "after" }, "the other exporter's calls")
  holder:close()
  E.stop()
  E.start()
  check.eq(E.count_logs("Tolvaro Collector started"), 1, "started lines once the port is free")
  local packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(packet["loget:LoGetSelfData.Name"], "F-16C_50", "the name")
end }

S[#S + 1] = { "a second start while running does not bind again", function(ctx)
  running(ctx)
  E.start()
  E.start()
  check.eq(E.count_logs("Tolvaro Collector started"), 1, "started lines")
  check.eq(#E.find_logs("", "ERROR"), 0, "errors")
  local packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(packet["loget:LoGetSelfData.Name"], "F-16C_50", "the name")
  E.stop()
  local sock = try_bind_collector_port()
  check.truthy(sock, "the collector port is free after one stop")
  sock:close()
end }

S[#S + 1] = { "stop removes highlights, closes the sockets and keeps the last request", function(ctx)
  running(ctx)
  B.read("read loget:LoGetSelfData.Name")
  B.send("highlight A 100")
  B.send("highlight B 100")
  E.frame()
  E.stop()
  check.eq(#E.calls.remove, 2, "removals at stop")
  check.eq(next(E.sim.highlights), nil, "highlights left")
  check.eq(E.count_logs("Tolvaro Collector stopped", "INFO"), 1, "stopped line")
  local sock = try_bind_collector_port()
  check.truthy(sock, "the collector port is free")
  sock:close()
  -- Frames between missions do nothing.
  E.frames(3)
  E.start()
  E.fly()
  B.read("read loget:LoGetSelfData.Name")
  check.eq(E.count_logs("request: "), 1, "request lines: the readers were kept")
end }

S[#S + 1] = { "errors of other tools' callbacks are logged within a quota and the collector keeps answering", function(ctx)
  running(ctx, { export_lua = "function LuaExportAfterNextFrame() error('other tool broke') end\n" .. E.HOOK_LINE .. "\n" })
  for _ = 1, 12 do E.frame() end
  local packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(packet["loget:LoGetSelfData.Name"], "F-16C_50", "the name")
  local w = E.find_logs("another tool's LuaExportAfterNextFrame failed: ", "WARNING")
  check.eq(#w, 10, "warnings")
  check.contains(w[10].message, "other tool broke (further ones are not logged)", "the last")
end }

S[#S + 1] = { "frame times are logged every 60 seconds", function(ctx)
  running(ctx)
  E.frames(10)
  E.wall_offset = E.wall_offset + 61
  E.frame()
  local lines = E.find_logs("frame time last ", "INFO")
  check.eq(#lines, 1, "frame time lines")
  check.truthy(lines[1].message:find("^frame time last 6%d s: 11 frames, mean %d+%.%d%d ms, max %d+%.%d%d ms$"),
    "the line " .. lines[1].message)
  E.frames(5)
  check.eq(E.count_logs("frame time last "), 1, "no second line within 60 s")
end }

-- A stand-in map marker in place of reticle.lua: it records how the collector drives it.
local STUB_MARKER = [[
marker = { starts = {}, frames = {}, stops = 0 }
return {
  start = function(config) marker.starts[#marker.starts + 1] = config end,
  frame = function(allowed)
    marker.frames[#marker.frames + 1] = allowed
    if marker.fail then error("marker broke") end
  end,
  stop = function() marker.stops = marker.stops + 1 end,
}
]]

S[#S + 1] = { "the map marker may show only while the last read, no older than 2 s, asks for map points", function(ctx)
  E.setup(ctx)
  E.write_file(E.scripts .. "Tolvaro/reticle/reticle.lua", STUB_MARKER)
  B.open()
  E.run_export_lua(E.HOOK_LINE .. "\n")
  E.start()
  E.fly()
  check.eq(#marker.starts, 1, "starts")
  check.eq(marker.starts[1].assetDir:sub(-#"Tolvaro/reticle\\"), "Tolvaro/reticle\\", "the asset folder")
  E.frame()
  check.eq(marker.frames[#marker.frames], false, "allowed before any read")
  B.read("read loget:LoGetSelfData.Name")
  check.eq(marker.frames[#marker.frames], false, "allowed after a read without the key")
  B.read("read collector:mapPointSelected")
  check.eq(marker.frames[#marker.frames], true, "allowed after a read with the key")
  E.wall_offset = E.wall_offset + 2.5
  E.frame()
  check.eq(marker.frames[#marker.frames], false, "allowed 2.5 s after the last read")
  B.read("read collector:mapPointSelected")
  check.eq(marker.frames[#marker.frames], true, "allowed after a fresh read")
  E.stop()
  check.eq(marker.stops, 1, "stops")
end }

S[#S + 1] = { "a confirmed map point rides on the replies that ask, for 2 s", function(ctx)
  E.setup(ctx)
  E.write_file(E.scripts .. "Tolvaro/reticle/reticle.lua", STUB_MARKER)
  B.open()
  E.run_export_lua(E.HOOK_LINE .. "\n")
  E.start()
  E.fly()
  local confirm = marker.starts[1].onConfirm
  check.eq(confirm({ latitudeDeg = 0 / 0, longitudeDeg = 1, elevationFt = 2 }), false, "a NaN point")
  check.eq(confirm({ latitudeDeg = 1, longitudeDeg = 2 }), false, "a point without elevation")
  check.eq(confirm("nonsense"), false, "not a point")
  check.eq(confirm({ latitudeDeg = 42.1234567, longitudeDeg = -41.5, elevationFt = 1234.4 }), true, "a point")
  local _, _, text = B.read("read collector:mapPointSelected loget:LoGetSelfData.Name")
  check.contains(text, '"collector:mapPointSelected":{"latitudeDeg":42.123457,"longitudeDeg":-41.500000,'
    .. '"elevationFt":1234}', "the point")
  E.wall_offset = E.wall_offset + 2.1
  local packet = B.read("read collector:mapPointSelected loget:LoGetSelfData.Name")
  check.eq(packet["collector:mapPointSelected"], B.null, "the point 2.1 s later")
  -- A stop forgets the point.
  check.eq(confirm({ latitudeDeg = 1, longitudeDeg = 2, elevationFt = 3 }), true, "a second point")
  E.stop()
  E.start()
  packet = B.read("read collector:mapPointSelected loget:LoGetSelfData.Name")
  check.eq(packet["collector:mapPointSelected"], B.null, "the point after a new mission")
end }

S[#S + 1] = { "a failure inside the map marker turns it off for the mission with a warning", function(ctx)
  E.setup(ctx)
  E.write_file(E.scripts .. "Tolvaro/reticle/reticle.lua", STUB_MARKER)
  B.open()
  E.run_export_lua(E.HOOK_LINE .. "\n")
  E.start()
  E.fly()
  E.frame()
  marker.fail = true
  E.frames(3)
  check.eq(#marker.frames, 2, "frames handed to the marker")
  check.eq(marker.stops, 1, "stop after the failure")
  local w = warnings()
  check.eq(#w, 1, "warnings")
  check.contains(w[1], "map marker frame failed, off for this mission: ", "the warning")
  check.contains(w[1], "marker broke", "the reason")
  -- The collector itself goes on, and the next mission starts the marker again.
  local packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(packet["loget:LoGetSelfData.Name"], "F-16C_50", "the name")
  marker.fail = false
  E.stop()
  E.start()
  E.frame()
  check.eq(#marker.starts, 2, "starts")
  check.eq(#marker.frames, 3, "frames in the new mission")
end }

S[#S + 1] = { "without the map marker files the collector logs that it is not installed", function(ctx)
  running(ctx, { map_marker = false })
  local lines = E.find_logs("not installed, skipped: ", "INFO")
  check.eq(#lines, 1, "lines")
  check.truthy(lines[1].message:find("Tolvaro/reticle\\", 1, true), "the folder in " .. lines[1].message)
  local packet = B.read("read collector:mapPointSelected")
  check.eq(packet["collector:mapPointSelected"], B.null, "no point")
end }

S[#S + 1] = { "a broken reticle.lua is a warning, not an error in the collector", function(ctx)
  E.setup(ctx)
  E.write_file(E.scripts .. "Tolvaro/reticle/reticle.lua", "return {")
  B.open()
  E.run_export_lua(E.HOOK_LINE .. "\n")
  E.start()
  E.fly()
  check.eq(E.count_logs("map marker load failed, off for this mission: ", "WARNING"), 1, "warnings")
  check.eq(E.count_logs("Tolvaro Collector started"), 1, "started lines")
  local packet = B.read("read loget:LoGetSelfData.Name")
  check.eq(packet["loget:LoGetSelfData.Name"], "F-16C_50", "the name")
end }

S[#S + 1] = { "end to end: two clicks on the real map marker put the point on the next reply", function(ctx)
  E.setup(ctx)
  D.install()
  B.open()
  E.run_export_lua(E.HOOK_LINE .. "\n")
  E.start()
  E.fly()
  check.eq(E.count_logs("reticle ready", "INFO"), 1, "the marker is ready")
  E.sim.camera = E.map_camera(-281000, 647000, 20000)
  E.sim.altitude = 152.4
  B.read("read collector:mapPointSelected")
  local ring = D.window_from("reticle.dlg")
  check.truthy(D.shown(ring), "the ring on the map")
  D.click(ring.hitButton)
  D.click(ring.hitButton)
  local _, _, text = B.read("read collector:mapPointSelected")
  local lat = 42 + -281000 / 111000
  local lon = 41 + 647000 / 82000
  check.contains(text, string.format('"collector:mapPointSelected":{"latitudeDeg":%.6f,"longitudeDeg":%.6f,'
    .. '"elevationFt":500}', lat, lon), "the point")
  -- Off the map, the ring goes.
  E.sim.camera = E.cockpit_camera()
  E.frame()
  check.falsy(D.shown(ring), "the ring in the cockpit")
end }

return S
