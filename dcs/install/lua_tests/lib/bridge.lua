-- A stand-in of the bridge's end of the collector link, on real UDP sockets: one socket bound to
-- 127.0.0.1:9790 (the bridge's listen port) that receives the collector's packets and sends the
-- request lines to 127.0.0.1:9791 (the collector port), as the bridge does.
--
-- The collector's ports are fixed, so the scenarios that use this run one after the other.

local socket = require("socket")
local E = require("export_env")
local json = require("dkjson")
local json_order = require("json_order")

local B = {}

B.LISTEN_PORT = 9790
B.COLLECTOR_PORT = 9791
-- Generous: a loaded machine may be slow, and a scenario waits for an event, not for this long.
B.WAIT_S = 10

-- Binds the bridge's port, waiting a while when another program holds it.
function B.open()
  local deadline = E.real_time() + B.WAIT_S
  local err
  repeat
    local sock = socket.udp()
    local ok
    ok, err = sock:setsockname("127.0.0.1", B.LISTEN_PORT)
    if ok then
      sock:settimeout(0)
      B.sock = sock
      return B
    end
    sock:close()
    socket.sleep(0.05)
  until E.real_time() > deadline
  error("cannot bind 127.0.0.1:" .. B.LISTEN_PORT .. " for the bridge stand-in: " .. tostring(err))
end

function B.send(line)
  local ok, err = B.sock:sendto(line, "127.0.0.1", B.COLLECTOR_PORT)
  assert(ok, "sending to the collector failed: " .. tostring(err))
end

-- The next waiting packet, or nil.
function B.poll()
  return (B.sock:receive(65535))
end

-- Runs frames until a packet arrives; errors when none comes within the wait.
function B.await_packet(what)
  local deadline = E.real_time() + B.WAIT_S
  repeat
    E.frame()
    local packet = B.poll()
    if packet then return packet end
    socket.sleep(0.001)
  until E.real_time() > deadline
  error("no packet arrived" .. (what and (" (" .. what .. ")") or ""))
end

-- Runs `n` frames and answers the packets that arrived meanwhile. On the loopback interface a
-- datagram is in the receiver's buffer when sendto returns, so none is still on its way.
function B.frames_collecting(n)
  local packets = {}
  for _ = 1, n do
    E.frame()
    while true do
      local packet = B.poll()
      if not packet then break end
      packets[#packets + 1] = packet
    end
  end
  return packets
end

-- Sends a read line and answers the decoded reply, its member names in order and its text.
function B.read(line)
  B.send(line)
  local text = B.await_packet(line)
  local value, _, err = json.decode(text, 1, json.null)
  assert(value, "the packet is not JSON (" .. tostring(err) .. "): " .. text:sub(1, 200))
  return value, json_order.member_names(text), text
end

B.null = json.null

function B.decode(text)
  local value, _, err = json.decode(text, 1, json.null)
  assert(value, "the packet is not JSON (" .. tostring(err) .. "): " .. text:sub(1, 200))
  return value
end

function B.close()
  if B.sock then B.sock:close() end
  B.sock = nil
end

return B
