-- Tolvaro Collector for DCS World.
--
-- Runs in the simulator's export environment. It answers the read requests of Tolvaro DCS Bridge with
-- one JSON packet each and carries out the cockpit writes that the bridge sends, over UDP on
-- 127.0.0.1: requests arrive on port 9791, packets go to port 9790. It knows no aircraft and no field
-- names: every value it reads is named by a key in the request.
--
-- Export.lua loads it with this line, which Tolvaro DCS Bridge adds and removes:
--   dofile(require("lfs").writedir()..[[Scripts\Tolvaro\collectorScript.lua]])
--
-- Installed and kept up to date by Tolvaro DCS Bridge; edits here are replaced by its repair.

-- A second line in Export.lua loads this file again: the callbacks must not be chained twice and
-- the port must not be bound twice.
if TolvaroCollectorLoaded then return end
TolvaroCollectorLoaded = true

local COLLECTOR_VERSION = 8 -- raised whenever a header key or a downlink line changes

local HOST = "127.0.0.1"
local SEND_PORT = 9790
local RECV_PORT = 9791
local WORLD_SCAN_EVERY = 60
local MAX_WORLD_OBJECTS = 150
local WORLD_SCAN_TIME_BUDGET_S = 0.003
local HIGHLIGHT_FIRST_ID = 3000
local HIGHLIGHT_POOL_SIZE = 300
local HIGHLIGHT_RETRY_EVERY = 300
local HIGHLIGHT_LOW_WATERMARK = 32
local MAX_REFUSAL_WARNINGS = 5
local MAP_POINT_KEY = "collector:mapPointSelected"
local MAP_POINT_ASKED_S = 2
local MAP_POINT_HOLD_S = 2
local FRAME_TIME_LOG_EVERY_S = 60

local LOG_TAG = "Tolvaro"
local FEET_PER_METRE = 3.28084
-- The bridge reads each packet as one datagram: the largest UDP payload over IPv4.
local MAX_PACKET_BYTES = 65507
-- The contacts share the packet with the requested values.
local MAX_CONTACTS_BYTES = 32768
-- A flood of datagrams must not stall a frame; the rest wait in the socket buffer.
local MAX_DATAGRAMS_PER_FRAME = 128
-- Warnings that can repeat without end are logged this many times per run.
local WARNING_QUOTA = 10
-- Texts from outside are cut to this many characters before they go into the log.
local CLIP_CHARS = 80
local SRS_FILE = "Mods\\Services\\DCS-SRS\\Scripts\\DCS-SimpleRadioStandalone.lua"

------------------------------------------------------------------------------------------------
-- Logging

local function write_log(level, message)
  local dcs_log = log
  if type(dcs_log) == "table" and type(dcs_log.write) == "function" then
    if pcall(dcs_log.write, LOG_TAG, dcs_log[level], message) then return end
  end
  pcall(print, LOG_TAG .. " " .. level .. ": " .. message)
end

local function info(message) write_log("INFO", message) end
local function warning(message) write_log("WARNING", message) end
local function log_error(message) write_log("ERROR", message) end

-- A quota for a line that could repeat without end: the last line it lets through says so.
local function new_quota()
  return { left = WARNING_QUOTA }
end

local function take_quota(quota)
  if quota.left <= 0 then return nil end
  quota.left = quota.left - 1
  if quota.left == 0 then return " (further ones are not logged)" end
  return ""
end

local function within_quota(quota, write, message)
  local suffix = take_quota(quota)
  if suffix then write(message .. suffix) end
end

local quotas = {
  unknown_kind = new_quota(),
  malformed = new_quota(),
  refusals = new_quota(),
  empty_read = new_quota(),
  table_value = new_quota(),
  oversize = new_quota(),
  write_failed = new_quota(),
  highlight = new_quota(),
  send_failed = new_quota(),
  other_tool = new_quota(),
  internal = new_quota(),
}

------------------------------------------------------------------------------------------------
-- Texts: UTF-8, JSON, log-safe texts from outside

local REPLACEMENT = "\239\191\189" -- U+FFFD

-- The text with every byte sequence that is not UTF-8 replaced by U+FFFD (one per maximal
-- invalid subpart), since the bridge refuses a whole datagram that is not UTF-8.
local function valid_utf8(s)
  if not s:find("[\128-\255]") then return s end
  local out, n = {}, 0
  local i, len, plain_from = 1, #s, 1
  while i <= len do
    local c = s:byte(i)
    if c < 0x80 then
      i = i + 1
    else
      local need, lo, hi = 0, 0x80, 0xBF
      if c >= 0xC2 and c <= 0xDF then need = 1
      elseif c == 0xE0 then need, lo = 2, 0xA0
      elseif (c >= 0xE1 and c <= 0xEC) or c == 0xEE or c == 0xEF then need = 2
      elseif c == 0xED then need, hi = 2, 0x9F
      elseif c == 0xF0 then need, lo = 3, 0x90
      elseif c >= 0xF1 and c <= 0xF3 then need = 3
      elseif c == 0xF4 then need, hi = 3, 0x8F
      end
      local j, complete = i + 1, need > 0
      for _ = 1, need do
        local b = s:byte(j)
        if not b or b < lo or b > hi then complete = false break end
        lo, hi = 0x80, 0xBF
        j = j + 1
      end
      if not complete then
        n = n + 1; out[n] = s:sub(plain_from, i - 1)
        n = n + 1; out[n] = REPLACEMENT
        plain_from = j
      end
      i = j
    end
  end
  if n == 0 then return s end
  out[n + 1] = s:sub(plain_from)
  return table.concat(out)
end

local JSON_ESCAPES = { ['"'] = '\\"', ["\\"] = "\\\\", ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t" }

local function json_escape_char(ch)
  return JSON_ESCAPES[ch] or string.format("\\u%04x", ch:byte())
end

local function json_string(s)
  -- An explicit byte class: %c follows the C locale, which may count bytes above 0x7F.
  return '"' .. (valid_utf8(s):gsub('[%z\1-\31"\\]', json_escape_char)) .. '"'
end

local function is_finite(v)
  return type(v) == "number" and v == v and v ~= math.huge and v ~= -math.huge
end

-- A locale with a decimal comma would break every number of the packet.
local DECIMAL_COMMA = string.format("%.1f", 0.5) ~= "0.5"

local function format_number(pattern, v)
  local s = string.format(pattern, v)
  if DECIMAL_COMMA then s = s:gsub(",", ".") end
  return s
end

local function json_number(v)
  if not is_finite(v) then return "null" end
  return format_number("%.6f", v)
end

local function json_integer(v)
  if not is_finite(v) then return "null" end
  return format_number("%.0f", v)
end

local function json_bool(v)
  if v then return "true" end
  return "false"
end

local function log_escape_char(ch)
  if ch == '"' or ch == "\\" then return "\\" .. ch end
  return string.format("\\x%02x", ch:byte())
end

-- A text from outside cut for the log: valid UTF-8, at most 80 characters, then "...".
local function cut(text)
  text = valid_utf8(tostring(text))
  local count = 0
  for at in text:gmatch("()[^\128-\191]") do
    count = count + 1
    if count > CLIP_CHARS then return text:sub(1, at - 1) .. "..." end
  end
  return text
end

-- A text from outside as it may go into the log: cut, with control characters escaped so that it
-- cannot forge log lines.
local function clip(text)
  return (cut(text):gsub("[%z\1-\31\127]", log_escape_char))
end

-- A text from outside between double quotes, cut, with backslash escapes.
local function quoted(text)
  return '"' .. (cut(text):gsub('[%z\1-\31\127"\\]', log_escape_char)) .. '"'
end

------------------------------------------------------------------------------------------------
-- Calls into the simulator

-- obj[name](obj, ...), for pcall without a closure per call.
local function call_method(obj, name, ...)
  return obj[name](obj, ...)
end

local function export_function(name)
  local f = _G[name]
  if type(f) == "function" then return f end
  return nil
end

local function call_export(name, ...)
  local f = export_function(name)
  if not f then return nil end
  local ok, value = pcall(f, ...)
  if ok then return value end
  return nil
end

local function file_exists(path)
  local ok, file = pcall(io.open, path, "rb")
  if ok and file then
    pcall(file.close, file)
    return true
  end
  return false
end

local function write_folder()
  local ok, lfs_module = pcall(require, "lfs")
  if ok and type(lfs_module) == "table" and type(lfs_module.writedir) == "function" then
    local ok_dir, dir = pcall(lfs_module.writedir)
    if ok_dir and type(dir) == "string" then
      if not dir:find("[\\/]$") then dir = dir .. "\\" end
      return dir
    end
  end
  return nil
end

-- The folder of this file, as dofile named it.
local SCRIPT_FOLDER = (function()
  local ok, source = pcall(function() return debug.getinfo(1, "S").source end)
  if ok and type(source) == "string" and source:sub(1, 1) == "@" then
    local folder = source:sub(2):match("^(.*[\\/])")
    if folder then return folder end
  end
  local dir = write_folder()
  if dir then return dir .. "Scripts\\Tolvaro\\" end
  return "Scripts\\Tolvaro\\"
end)()

------------------------------------------------------------------------------------------------
-- State

local st = {
  socket = nil,          -- the socket library, once loaded
  send_socket = nil,
  recv_socket = nil,
  running = false,       -- both sockets are open
  load_failure_logged = false,
  bind_failure_logged = false,
  send_failing = false,
  srs_installed = nil,   -- noted once, at the first start
  request_text = nil,    -- the last read line and the readers built from it (kept across missions)
  readers = nil,
  pending = nil,         -- readers waiting for this frame's reply
  read_at = nil,         -- when the last read line arrived
  asks_map_point = false,
  contacts = "[]",
  aircraft_seen = false,
  map_point = nil,
  marker = nil,          -- the map marker module, once loaded
  marker_on = false,     -- started and not failed in this mission
  table_warned = {},
  frames = 0,
  before_frames = 0,
  frame_cost = 0,
  stats = nil,
}

local function now_wall()
  local sock = st.socket
  if sock and type(sock.gettime) == "function" then
    local ok, t = pcall(sock.gettime)
    if ok and type(t) == "number" then return t end
  end
  return os.clock()
end

local function model_time()
  local t = call_export("LoGetModelTime")
  if is_finite(t) then return t end
  return now_wall()
end

------------------------------------------------------------------------------------------------
-- Per-packet cache: devices, displays and export functions are called once per packet.

local function new_cache()
  return { devices = {}, displays = {}, roots = {} }
end

local function cached_device(cache, id)
  local device = cache.devices[id]
  if device == nil then
    local ok, found = pcall(GetDevice, id)
    device = (ok and found) or false
    cache.devices[id] = device
  end
  return device or nil
end

-- The values of one display, parsed from list_indication's text: the dashed-line form
-- ("-----" line, name line, value lines) or the older form (KEY = 'value').
local function parse_indication(text)
  local values = {}
  if type(text) ~= "string" then return values end
  if text:sub(-1) ~= "\n" then text = text .. "\n" end
  if text:find("%-%-%-%-%-") then
    local name, lines, expect_name = nil, nil, false
    for line in text:gmatch("([^\n]*)\n") do
      line = line:gsub("\r$", "")
      if line:find("^%-%-%-%-%-+%s*$") then
        if name then values[name] = table.concat(lines, "\n") end
        name, lines, expect_name = nil, nil, true
      elseif expect_name then
        name, lines, expect_name = line, {}, false
      elseif name then
        lines[#lines + 1] = line
      end
    end
    if name then values[name] = table.concat(lines, "\n") end
  else
    for line in text:gmatch("([^\n]*)\n") do
      local name, value = line:match("^%s*([^=%s]+)%s*=%s*'(.*)'%s*\r?$")
      if name then values[name] = value end
    end
  end
  return values
end

local function cached_display(cache, id)
  local values = cache.displays[id]
  if values == nil then
    local ok, text = pcall(list_indication, id)
    values = parse_indication(ok and text or nil)
    cache.displays[id] = values
  end
  return values
end

local NOTHING = {}

local function cached_root(cache, name)
  local value = cache.roots[name]
  if value == nil then
    value = call_export(name)
    if value == nil then value = NOTHING end
    cache.roots[name] = value
  end
  if value == NOTHING then return nil end
  return value
end

------------------------------------------------------------------------------------------------
-- Readers: one per requested key. Each answers the JSON text of its value for one packet.

local function value_json(key, value)
  local kind = type(value)
  if kind == "number" then return json_number(value) end
  if kind == "string" then return json_string(value) end
  if kind == "boolean" then return json_bool(value) end
  if kind == "table" and not st.table_warned[key] and quotas.table_value.left > 0 then
    st.table_warned[key] = true
    within_quota(quotas.table_value, warning, clip(key) .. " stops on a table, sending null")
  end
  return "null"
end

local function read_arg(reader, cache)
  local device = cached_device(cache, reader.device)
  if not device then return "null" end
  local ok, value = pcall(call_method, device, "get_argument_value", reader.argument)
  if not ok then value = nil end
  return value_json(reader.key, value)
end

local function read_indication(reader, cache)
  return value_json(reader.key, cached_display(cache, reader.display)[reader.name])
end

local function read_device(reader, cache)
  local device = cached_device(cache, reader.device)
  if not device then return "null" end
  local ok, value = pcall(call_method, device, reader.method)
  if not ok then value = nil end
  return value_json(reader.key, value)
end

local function read_loget(reader, cache)
  local value = cached_root(cache, reader.root)
  local path = reader.path
  for i = 1, #path do
    if type(value) ~= "table" then return "null" end
    local segment = path[i]
    local next_value = value[segment.name]
    if next_value == nil and segment.index then next_value = value[segment.index] end
    value = next_value
  end
  return value_json(reader.key, value)
end

local function map_point_json()
  local point = st.map_point
  if not point or now_wall() - point.at > MAP_POINT_HOLD_S then return "null" end
  return '{"latitudeDeg":' .. json_number(point.latitude)
    .. ',"longitudeDeg":' .. json_number(point.longitude)
    .. ',"elevationFt":' .. json_integer(math.floor(point.elevation + 0.5)) .. "}"
end

local function read_map_point()
  return map_point_json()
end

------------------------------------------------------------------------------------------------
-- Reader builders, by channel. Each returns a reader or nil and the reason of its refusal.

local function digits(text)
  return text ~= "" and not text:find("%D")
end

local builders = {}

function builders.arg(rest)
  local device, argument = rest:match("^(%d+):(%d+)$")
  if not device then return nil, "expected <device>:<argument>, both digits" end
  return { read = read_arg, device = tonumber(device), argument = tonumber(argument) }
end

function builders.indication(rest)
  local display, name = rest:match("^(%d+):([%w_%%]+)$")
  if not display then return nil, "expected <display>:<key>" end
  name = name:gsub("%%20", " "):gsub("%%25", "%%")
  return { read = read_indication, display = tonumber(display), name = name }
end

function builders.device(rest)
  local device, method = rest:match("^(%d+):([%a_][%w_]*)$")
  if not device then return nil, "expected <device>:<method>" end
  if not (method:find("^get_") or method:find("^is_")) then
    return nil, "method is not a get_ or is_ getter"
  end
  return { read = read_device, device = tonumber(device), method = method }
end

function builders.loget(rest)
  local root, path_text = rest:match("^([^.]*)(.*)$")
  if not root:find("^LoGet[%w_]*$") then return nil, "root is not a LoGet export function" end
  if root == "LoGetWorldObjects" then return nil, "handled by the collector's world scan" end
  if not export_function(root) then return nil, "this DCS build exports no such function" end
  local path = {}
  if path_text ~= "" then
    -- path_text starts with "."; every segment between the dots must be a non-empty word.
    if path_text:find("%.%.") or path_text:sub(-1) == "." then
      return nil, "malformed path: " .. clip(path_text)
    end
    for segment in path_text:sub(2):gmatch("[^.]+") do
      if not segment:find("^[%w_]+$") then return nil, "bad path segment: " .. clip(segment) end
      path[#path + 1] = { name = segment, index = digits(segment) and tonumber(segment) or nil }
    end
  end
  return { read = read_loget, root = root, path = path }
end

function builders.collector(rest)
  if rest ~= "mapPointSelected" then return nil, "unknown collector value" end
  return { read = read_map_point }
end

local function build_reader(key)
  local channel, rest = key:match("^([^:]*):(.*)$")
  local builder = channel and builders[channel]
  if not builder then return nil, "unknown channel" end
  local reader, reason = builder(rest)
  if reader then
    reader.key = key
    reader.name_json = json_string(key)
  end
  return reader, reason
end

local function log_refusals(refused)
  local suffix = take_quota(quotas.refusals)
  if not suffix then return end
  local lines = {}
  for i = 1, math.min(#refused, MAX_REFUSAL_WARNINGS) do
    lines[#lines + 1] = "refused " .. clip(refused[i].key) .. ": " .. refused[i].reason
  end
  if #refused > MAX_REFUSAL_WARNINGS then
    lines[#lines + 1] = "and " .. (#refused - MAX_REFUSAL_WARNINGS) .. " more refused"
  end
  lines[#lines] = lines[#lines] .. suffix
  for i = 1, #lines do warning(lines[i]) end
end

local function build_readers(keys)
  local readers, refused, seen = {}, {}, {}
  local asks_map_point = false
  for i = 1, #keys do
    local key = keys[i]
    -- A key named twice would give two members of the same name.
    if not seen[key] then
      seen[key] = true
      local reader, reason = build_reader(key)
      if reader then
        readers[#readers + 1] = reader
        if key == MAP_POINT_KEY then asks_map_point = true end
      else
        refused[#refused + 1] = { key = key, reason = reason }
      end
    end
  end
  if #refused > 0 then log_refusals(refused) end
  info("request: " .. #readers .. " reads, " .. #refused .. " refused")
  readers.asks_map_point = asks_map_point
  return readers
end

------------------------------------------------------------------------------------------------
-- World scan and stores

local function contact_json(object)
  local kind = object.Type
  if type(kind) ~= "table" then return nil end
  local level1, level3 = kind.level1, kind.level3
  if not (level1 == 1 or (level1 == 2 and level3 == 101)) then return nil end
  local position = type(object.LatLongAlt) == "table" and object.LatLongAlt or NOTHING
  local name, coalition = object.Name, object.Coalition
  local alt = position.Alt
  return '{"name":' .. (type(name) == "string" and json_string(name) or "null")
    .. ',"coalition":' .. (type(coalition) == "string" and json_string(coalition)
      or (is_finite(coalition) and json_integer(coalition)) or "null")
    .. ',"latDeg":' .. json_number(position.Lat)
    .. ',"lonDeg":' .. json_number(position.Long)
    .. ',"altFt":' .. (is_finite(alt) and json_number(alt * FEET_PER_METRE) or "null")
    .. ',"level1":' .. json_integer(level1)
    .. ',"level3":' .. json_integer(level3) .. "}"
end

local function scan_world()
  local objects = call_export("LoGetWorldObjects")
  if type(objects) ~= "table" then
    st.contacts = "[]"
    return
  end
  local parts, count, seen, bytes = {}, 0, 0, 2
  local started = now_wall()
  for _, object in pairs(objects) do
    seen = seen + 1
    if seen % 100 == 0 and now_wall() - started > WORLD_SCAN_TIME_BUDGET_S then break end
    if type(object) == "table" then
      local ok, text = pcall(contact_json, object)
      if ok and text then
        if bytes + #text + 1 > MAX_CONTACTS_BYTES then break end
        count = count + 1
        parts[count] = text
        bytes = bytes + #text + 1
        if count >= MAX_WORLD_OBJECTS then break end
      end
    end
  end
  st.contacts = "[" .. table.concat(parts, ",") .. "]"
end

local function store_name(weapon)
  if type(weapon) ~= "table" then return "null" end
  local name = call_export("LoGetNameByType", weapon.level1, weapon.level2, weapon.level3, weapon.level4)
  if type(name) == "string" then return json_string(name) end
  return "null"
end

local function payload_json(cache)
  local payload = cached_root(cache, "LoGetPayloadInfo")
  if type(payload) ~= "table" then return "null" end
  local stations = type(payload.Stations) == "table" and payload.Stations or NOTHING
  local pylons = {}
  for number, station in pairs(stations) do
    if type(number) == "number" and type(station) == "table" and is_finite(station.count)
        and station.count > 0 then
      pylons[#pylons + 1] = number
    end
  end
  table.sort(pylons)
  local parts = {}
  for i = 1, #pylons do
    local station = stations[pylons[i]]
    parts[i] = '"' .. json_integer(pylons[i]) .. '":{"name":' .. store_name(station.weapon)
      .. ',"count":' .. json_integer(station.count)
      .. ',"container":' .. json_bool(station.container == true) .. "}"
  end
  local cannon = type(payload.Cannon) == "table" and payload.Cannon or NOTHING
  return '{"stations":{' .. table.concat(parts, ",") .. '},"cannonShells":'
    .. json_integer(cannon.shells) .. "}"
end

------------------------------------------------------------------------------------------------
-- The reply packet

local function send_packet(text)
  local ok, sent, err = pcall(call_method, st.send_socket, "sendto", text, HOST, SEND_PORT)
  if ok and sent then
    st.send_failing = false
    return
  end
  -- One warning per run of failures.
  if not st.send_failing then
    st.send_failing = true
    within_quota(quotas.send_failed, warning,
      "sending to the bridge failed: " .. clip(ok and err or sent))
  end
end

local function header_json(cache, contacts, payload)
  return '{"collector:version":' .. COLLECTOR_VERSION
    .. ',"collector:isSrsInstalled":' .. json_bool(st.srs_installed)
    .. ',"collector:contacts":' .. contacts
    .. ',"collector:payload":' .. payload
    .. ',"collector:cockpitPresent":' .. json_bool(cached_device(cache, 0) ~= nil)
end

local function answer(readers)
  local cache = new_cache()
  -- In menus or as a spectator there is no own aircraft: no packet until it has reported data.
  if not st.aircraft_seen then
    if cached_root(cache, "LoGetSelfData") == nil then return end
    st.aircraft_seen = true
  end
  local header = header_json(cache, st.contacts, payload_json(cache))
  if #header + 1 > MAX_PACKET_BYTES then header = header_json(cache, "[]", "null") end
  local parts, size, overflow = { header }, #header + 1, false
  for i = 1, #readers do
    local reader = readers[i]
    local member = "," .. reader.name_json .. ":" .. reader.read(reader, cache)
    if size + #member > MAX_PACKET_BYTES then
      overflow = true
      member = "," .. reader.name_json .. ":null"
      if size + #member > MAX_PACKET_BYTES then break end
    end
    parts[#parts + 1] = member
    size = size + #member
  end
  parts[#parts + 1] = "}"
  if overflow and not readers.size_warned then
    readers.size_warned = true
    within_quota(quotas.oversize, warning, "the reply to this request is over "
      .. MAX_PACKET_BYTES .. " bytes; values that do not fit are sent as null")
  end
  send_packet(table.concat(parts))
end

------------------------------------------------------------------------------------------------
-- Cockpit highlights: ids from a pool; an id whose removal failed is retired and retried later.

local pool = { free = {}, retired = {}, active = {}, low_warned = false }

local function reset_pool()
  pool.free, pool.retired, pool.active, pool.low_warned = {}, {}, {}, false
  for id = HIGHLIGHT_FIRST_ID, HIGHLIGHT_FIRST_ID + HIGHLIGHT_POOL_SIZE - 1 do
    pool.free[#pool.free + 1] = id
  end
end

local function free_id(id)
  pool.free[#pool.free + 1] = id
  if #pool.free > HIGHLIGHT_LOW_WATERMARK then pool.low_warned = false end
end

local function remove_highlight_id(id)
  local remove = export_function("a_cockpit_remove_highlight")
  if remove and pcall(remove, id) then
    free_id(id)
    return true
  end
  pool.retired[#pool.retired + 1] = id
  return false
end

local function draw_highlight(id, element)
  local draw = export_function("a_cockpit_highlight")
  if not draw or not pcall(draw, id, element, 0, "") then return false end
  local visible = export_function("c_cockpit_highlight_visible")
  if not visible then return true end
  local ok, shown = pcall(visible, id)
  return ok and shown ~= nil and shown ~= false and shown ~= 0
end

local function expire_highlights(now)
  for element, lit in pairs(pool.active) do
    if lit.expiry <= now then
      pool.active[element] = nil
      remove_highlight_id(lit.id)
    end
  end
end

local function retry_retired()
  local retired = pool.retired
  if #retired == 0 then return end
  pool.retired = {}
  for i = 1, #retired do remove_highlight_id(retired[i]) end
end

local function remove_all_highlights()
  for element, lit in pairs(pool.active) do
    pool.active[element] = nil
    remove_highlight_id(lit.id)
  end
end

-- A free id, the oldest freed first; with none free, the highlight that expires soonest gives way.
local function take_id()
  while #pool.free == 0 do
    local soonest_element, soonest
    for element, lit in pairs(pool.active) do
      if not soonest or lit.expiry < soonest.expiry then soonest_element, soonest = element, lit end
    end
    if not soonest then return nil end
    pool.active[soonest_element] = nil
    remove_highlight_id(soonest.id)
  end
  local id = table.remove(pool.free, 1)
  if #pool.free <= HIGHLIGHT_LOW_WATERMARK and not pool.low_warned then
    pool.low_warned = true
    within_quota(quotas.highlight, warning, "highlight ids running low: " .. #pool.free .. " free")
  end
  return id
end

local function highlight(element, seconds)
  local now = model_time()
  local lit = pool.active[element]
  if lit then
    lit.expiry = now + seconds
    return
  end
  local id = take_id()
  if not id then
    within_quota(quotas.highlight, warning, "highlight " .. clip(element) .. ": no highlight id free")
    return
  end
  if draw_highlight(id, element) then
    pool.active[element] = { id = id, expiry = now + seconds }
  else
    remove_highlight_id(id)
    within_quota(quotas.highlight, warning, "highlight " .. clip(element) .. " did not show")
  end
end

------------------------------------------------------------------------------------------------
-- Downlink: request lines from the bridge

local function malformed(line)
  within_quota(quotas.malformed, warning, "downlink ignored, malformed line: " .. quoted(line))
end

local function handle_read(line)
  st.read_at = now_wall()
  if line == st.request_text and st.readers then
    st.pending = st.readers
    st.asks_map_point = st.readers.asks_map_point
    return
  end
  local keys = {}
  for key in line:gmatch("%S+") do keys[#keys + 1] = key end
  table.remove(keys, 1)
  if #keys == 0 then
    st.asks_map_point = false
    within_quota(quotas.empty_read, warning, "ignored, the request names no keys")
    return
  end
  local readers = build_readers(keys)
  st.request_text, st.readers, st.pending = line, readers, readers
  st.asks_map_point = readers.asks_map_point
end

local function handle_clickable(line)
  local device_text, command_text, value_text = line:match("^clickable%s+(%d+):(%d+)%s+(%S+)%s*$")
  local value = value_text and tonumber(value_text)
  if not is_finite(value) then return malformed(line) end
  local details = "(device=" .. clip(device_text) .. ", command=" .. clip(command_text)
    .. ", value=" .. clip(value_text) .. ")"
  local ok, found = pcall(GetDevice, tonumber(device_text))
  local err
  if not ok then
    err = found
  elseif not found then
    err = "no such device"
  else
    local done, failure = pcall(call_method, found, "performClickableAction", tonumber(command_text), value)
    if done then
      info("write ok " .. details)
      return
    end
    err = failure
  end
  within_quota(quotas.write_failed, log_error, "write failed " .. details .. ": " .. clip(err))
end

local function handle_highlight(line)
  local element, seconds_text = line:match("^highlight%s+(%S+)%s+(%S+)%s*$")
  local seconds = seconds_text and tonumber(seconds_text)
  if not is_finite(seconds) or seconds <= 0 then return malformed(line) end
  highlight(element, seconds)
end

local function handle_datagram(line)
  local kind = line:match("^(%S*)")
  if kind == "read" then
    handle_read(line)
  elseif kind == "clickable" then
    handle_clickable(line)
  elseif kind == "highlight" then
    handle_highlight(line)
  else
    within_quota(quotas.unknown_kind, warning, "downlink ignored, unknown channel: " .. quoted(line))
  end
end

local function drain_downlink()
  local recv = st.recv_socket
  for _ = 1, MAX_DATAGRAMS_PER_FRAME do
    local ok, data = pcall(call_method, recv, "receive")
    if not ok or not data then return end
    handle_datagram(data)
  end
end

------------------------------------------------------------------------------------------------
-- The map marker

local function marker_failed(what, err)
  st.marker_on = false
  warning("map marker " .. what .. " failed, off for this mission: " .. clip(err))
end

local function confirm_map_point(point)
  if type(point) ~= "table" then return false end
  local latitude, longitude, elevation = point.latitudeDeg, point.longitudeDeg, point.elevationFt
  if not (is_finite(latitude) and is_finite(longitude) and is_finite(elevation)) then return false end
  st.map_point = { latitude = latitude, longitude = longitude, elevation = elevation, at = now_wall() }
  return true
end

local function start_marker()
  st.marker_on = false
  local folder = SCRIPT_FOLDER .. "reticle\\"
  if not st.marker then
    local path = folder .. "reticle.lua"
    if not file_exists(path) then
      info("not installed, skipped: " .. folder)
      return
    end
    local chunk, load_err = loadfile(path)
    if not chunk then return marker_failed("load", load_err) end
    local ok, module = pcall(chunk)
    if not ok then return marker_failed("load", module) end
    if type(module) ~= "table" or type(module.start) ~= "function"
        or type(module.frame) ~= "function" or type(module.stop) ~= "function" then
      return marker_failed("load", "reticle.lua returned no start, frame and stop")
    end
    st.marker = module
  end
  local ok, err = pcall(st.marker.start, { assetDir = folder, onConfirm = confirm_map_point })
  if not ok then return marker_failed("start", err) end
  st.marker_on = true
end

local function frame_marker()
  if not st.marker_on then return end
  local allowed = st.asks_map_point and st.read_at ~= nil
    and now_wall() - st.read_at <= MAP_POINT_ASKED_S
  local ok, err = pcall(st.marker.frame, allowed == true)
  if not ok then
    marker_failed("frame", err)
    pcall(st.marker.stop)
  end
end

local function stop_marker()
  if not st.marker_on then return end
  st.marker_on = false
  local ok, err = pcall(st.marker.stop)
  if not ok then warning("map marker stop failed: " .. clip(err)) end
end

------------------------------------------------------------------------------------------------
-- Sockets

local function add_search_path(field, entry)
  local current = package[field] or ""
  if not current:find(entry, 1, true) then package[field] = current .. ";" .. entry end
end

local function load_socket_library()
  add_search_path("path", "./LuaSocket/?.lua")
  add_search_path("cpath", "./LuaSocket/?.dll")
  local ok, library = pcall(require, "socket")
  if ok and type(library) == "table" and type(library.udp) == "function" then return library end
  return nil, ok and "it has no udp sockets" or library
end

local function close_socket(sock)
  if sock then pcall(call_method, sock, "close") end
end

local function open_udp(library, address, port)
  local ok, sock, err = pcall(library.udp)
  if not ok or not sock then return nil, ok and err or sock end
  local bound, bind_ok, bind_err = pcall(call_method, sock, "setsockname", address, port)
  if not bound or not bind_ok then
    close_socket(sock)
    return nil, bound and bind_err or bind_ok
  end
  pcall(call_method, sock, "settimeout", 0)
  return sock
end

local function open_sockets()
  local library, load_err = load_socket_library()
  if not library then
    if not st.load_failure_logged then
      st.load_failure_logged = true
      log_error("cannot load the socket library, the collector is off: " .. clip(load_err))
    end
    return false
  end
  st.socket = library
  local send, send_err = open_udp(library, HOST, 0)
  local recv, recv_err
  if send then recv, recv_err = open_udp(library, HOST, RECV_PORT) end
  if not recv then
    close_socket(send)
    if not st.bind_failure_logged then
      st.bind_failure_logged = true
      if send then
        log_error("cannot listen on " .. HOST .. ":" .. RECV_PORT .. ", the collector is off: "
          .. clip(recv_err))
      else
        log_error("cannot open a sending socket, the collector is off: " .. clip(send_err))
      end
    end
    return false
  end
  st.send_socket, st.recv_socket = send, recv
  return true
end

------------------------------------------------------------------------------------------------
-- Export callbacks

local function on_start()
  -- A second start while running must not bind the port again.
  if st.running then return end
  if not open_sockets() then return end
  st.running = true
  if st.srs_installed == nil then
    local dir = write_folder()
    st.srs_installed = dir ~= nil and file_exists(dir .. SRS_FILE)
  end
  reset_pool()
  st.contacts, st.frames, st.before_frames, st.pending = "[]", 0, 0, nil
  st.stats = { since = now_wall(), frames = 0, total = 0, max = 0 }
  start_marker()
  info("Tolvaro Collector started (send->" .. HOST .. ":" .. SEND_PORT .. ", recv<-" .. RECV_PORT .. ")")
end

local function on_before()
  if not st.running then return end
  local started = now_wall()
  expire_highlights(model_time())
  st.before_frames = st.before_frames + 1
  if st.before_frames % HIGHLIGHT_RETRY_EVERY == 0 then retry_retired() end
  drain_downlink()
  st.frame_cost = now_wall() - started
end

local function add_frame_time(seconds)
  local stats = st.stats
  stats.frames = stats.frames + 1
  stats.total = stats.total + seconds
  if seconds > stats.max then stats.max = seconds end
  local now = now_wall()
  local elapsed = now - stats.since
  if elapsed >= FRAME_TIME_LOG_EVERY_S then
    info(string.format("frame time last %d s: %d frames, mean %.2f ms, max %.2f ms",
      math.floor(elapsed + 0.5), stats.frames, stats.total / stats.frames * 1000, stats.max * 1000))
    st.stats = { since = now, frames = 0, total = 0, max = 0 }
  end
end

local function on_after()
  if not st.running then return end
  local started = now_wall()
  st.frames = st.frames + 1
  if st.frames % WORLD_SCAN_EVERY == 0 then scan_world() end
  if st.pending then
    local readers = st.pending
    st.pending = nil
    answer(readers)
  end
  frame_marker()
  add_frame_time(st.frame_cost + (now_wall() - started))
  st.frame_cost = 0
end

local function on_stop()
  if not st.running then return end
  stop_marker()
  st.map_point, st.read_at, st.aircraft_seen, st.pending = nil, nil, false, nil
  st.asks_map_point = false
  remove_all_highlights()
  close_socket(st.send_socket)
  close_socket(st.recv_socket)
  st.send_socket, st.recv_socket, st.running = nil, nil, false
  info("Tolvaro Collector stopped")
end

-- Installs the script's own callback under `name`, calling the one installed before it first, so
-- that other exporters keep running whatever either of them does.
local function chain(name, work)
  local previous = _G[name]
  _G[name] = function(...)
    if type(previous) == "function" then
      local ok, err = pcall(previous, ...)
      if not ok then
        within_quota(quotas.other_tool, warning, "another tool's " .. name .. " failed: " .. clip(err))
      end
    end
    local ok, err = pcall(work)
    if not ok then
      within_quota(quotas.internal, log_error, "collector " .. name .. " failed: " .. clip(err))
    end
  end
end

chain("LuaExportStart", on_start)
chain("LuaExportBeforeNextFrame", on_before)
chain("LuaExportAfterNextFrame", on_after)
chain("LuaExportStop", on_stop)
