-- Checks the six files that the program builds in and installs, as the install code reads them:
--   lua5.1 data_checks.lua DATA_DIR
-- Closes with "N passed, N failed".
local data_dir = arg[1]

local TEXT_FILES = {
  "Tolvaro/collectorScript.lua", "Hooks/TolvaroBandits.lua", "Tolvaro/reticle/reticle.lua",
  "Tolvaro/reticle/reticle.dlg", "Tolvaro/reticle/prompt.dlg",
}
local PICTURE = "Tolvaro/reticle/reticle.png"

local function read(path)
  local file = assert(io.open(data_dir .. "/" .. path, "rb"))
  local data = file:read("*a")
  file:close()
  return data
end

local function is_utf8(s)
  local i, n = 1, #s
  while i <= n do
    local c = s:byte(i)
    local len, lo, hi = 1, 0x80, 0xBF
    if c < 0x80 then len = 1
    elseif c >= 0xC2 and c <= 0xDF then len = 2
    elseif c == 0xE0 then len, lo = 3, 0xA0
    elseif c == 0xED then len, hi = 3, 0x9F
    elseif c >= 0xE1 and c <= 0xEF then len = 3
    elseif c == 0xF0 then len, lo = 4, 0x90
    elseif c == 0xF4 then len, hi = 4, 0x8F
    elseif c >= 0xF1 and c <= 0xF3 then len = 4
    else return false, i end
    for k = 1, len - 1 do
      local b = s:byte(i + k)
      local low, high = 0x80, 0xBF
      if k == 1 then low, high = lo, hi end
      if not b or b < low or b > high then return false, i end
    end
    i = i + len
  end
  return true
end

-- The version that the install code reads from a collector text: the first line in which
-- COLLECTOR_VERSION is followed by white space, "=", white space and a run of digits that fits in
-- 32 bits.
local function collector_version(text)
  for line in (text .. "\n"):gmatch("([^\n]*)\n") do
    line = line:gsub("\r$", "")
    local at = line:find("COLLECTOR_VERSION", 1, true)
    if at then
      local digits = line:sub(at + #"COLLECTOR_VERSION"):match("^%s*=%s*(%d*)")
      if digits and digits ~= "" and tonumber(digits) <= 4294967295 then return tonumber(digits), line end
    end
  end
  return nil
end

-- CRC-32 (ISO-HDLC), with arithmetic in place of the bit operations that Lua 5.1 lacks.
local function xor32(a, b)
  local out, bit = 0, 1
  for _ = 1, 32 do
    local x, y = a % 2, b % 2
    if x ~= y then out = out + bit end
    a, b, bit = (a - x) / 2, (b - y) / 2, bit * 2
  end
  return out
end

local CRC_TABLE = {}
for n = 0, 255 do
  local c = n
  for _ = 1, 8 do
    if c % 2 == 1 then c = xor32(0xEDB88320, (c - 1) / 2) else c = c / 2 end
  end
  CRC_TABLE[n] = c
end

local function crc32(s)
  local crc = 0xFFFFFFFF
  for i = 1, #s do
    local index = xor32(crc % 256, s:byte(i))
    crc = xor32(CRC_TABLE[index], math.floor(crc / 256))
  end
  return xor32(crc, 0xFFFFFFFF)
end

local function u32(s, at)
  local a, b, c, d = s:byte(at, at + 3)
  return ((a * 256 + b) * 256 + c) * 256 + d
end

local checks = {}

for _, path in ipairs(TEXT_FILES) do
  checks[#checks + 1] = { path .. " is UTF-8 with LF line ends only", function()
    local text = read(path)
    assert(#text > 0, "empty")
    assert(not text:find("\r", 1, true), "holds a CR byte")
    assert(text:sub(1, 3) ~= "\239\187\191", "starts with a byte order mark")
    local ok, at = is_utf8(text)
    assert(ok, "not UTF-8 at byte " .. tostring(at))
    assert(text:sub(-1) == "\n", "does not end with a line end")
    assert(not text:find("\t", 1, true), "holds a tab")
  end }
end

checks[#checks + 1] = { "the collector assigns COLLECTOR_VERSION 8 in a local line with a comment", function()
  local version, line = collector_version(read("Tolvaro/collectorScript.lua"))
  assert(version == 8, "the version read is " .. tostring(version))
  assert(line:find("^local COLLECTOR_VERSION = 8 %-%- "), "the line is " .. line)
end }

checks[#checks + 1] = { "the collector sends to 9790, listens on 9791 and names its loaded flag", function()
  local text = read("Tolvaro/collectorScript.lua")
  assert(text:find('\nlocal HOST = "127.0.0.1"\n', 1, true), "HOST")
  assert(text:find("\nlocal SEND_PORT = 9790\n", 1, true), "SEND_PORT")
  assert(text:find("\nlocal RECV_PORT = 9791\n", 1, true), "RECV_PORT")
  assert(text:find("\nif TolvaroCollectorLoaded then return end\nTolvaroCollectorLoaded = true\n", 1, true),
    "the loaded flag")
end }

checks[#checks + 1] = { PICTURE .. " is a 96 by 96 RGBA PNG with sound chunks", function()
  local png = read(PICTURE)
  assert(png:sub(1, 8) == "\137PNG\r\n\26\n", "the PNG signature")
  local at, kinds = 9, {}
  while at <= #png do
    local length = u32(png, at)
    local kind = png:sub(at + 4, at + 7)
    local body = png:sub(at + 8, at + 7 + length)
    assert(#body == length, "chunk " .. kind .. " is cut short")
    assert(u32(png, at + 8 + length) == crc32(kind .. body), "chunk " .. kind .. " has a bad CRC")
    kinds[#kinds + 1] = kind
    if kind == "IHDR" then
      assert(length == 13, "IHDR length")
      assert(u32(body, 1) == 96 and u32(body, 5) == 96, "size " .. u32(body, 1) .. " by " .. u32(body, 5))
      assert(body:byte(9) == 8, "bit depth " .. body:byte(9))
      assert(body:byte(10) == 6, "colour type " .. body:byte(10) .. " is not RGBA")
      assert(body:byte(13) == 0, "interlaced")
    end
    at = at + 12 + length
  end
  assert(kinds[1] == "IHDR", "IHDR first")
  assert(kinds[#kinds] == "IEND", "IEND last")
end }

local passed, failed = 0, 0
for _, check in ipairs(checks) do
  local ok, err = pcall(check[2])
  if ok then
    passed = passed + 1
    print("ok    " .. check[1])
  else
    failed = failed + 1
    print("FAIL  " .. check[1] .. ": " .. tostring(err))
  end
end
print(passed .. " passed, " .. failed .. " failed")
os.exit(failed == 0 and 0 or 1)
