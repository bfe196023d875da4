-- Scenarios of the map marker (reticle.lua) in the export environment stand-in, with stand-ins of
-- DCS's dialog modules. Time moves by the scenario's steps of the socket library's clock.
local check = require("check")
local E = require("export_env")
local D = require("dialogs")

local HIDE = "Ctrl+Shift+h"
local ARMED_TEXT = "Click again to write the current steerpoint; Ctrl+Shift+H to hide"
local CONNECT_TEXT = "Connect to Quessa in the F-16C to set steerpoints here"

-- The marker, started with the installed files; `answer` is what onConfirm answers.
local function started(ctx, opts)
  opts = opts or {}
  E.setup(ctx, { collector = false })
  if opts.dialogs ~= false then D.install() end
  local writedir = package.loaded.lfs.writedir()
  local reticle = dofile(E.scripts .. "Tolvaro/reticle/reticle.lua")
  local m = { reticle = reticle, confirmed = {}, answer = true, writedir = writedir }
  m.asset_dir = opts.asset_dir or (writedir .. "Scripts\\Tolvaro\\reticle\\")
  m.config = {
    assetDir = m.asset_dir,
    onConfirm = function(point)
      m.confirmed[#m.confirmed + 1] = point
      if m.answer == "error" then error("page gone") end
      return m.answer
    end,
  }
  E.sim.camera = opts.camera or E.map_camera(0, 0, 5000)
  reticle.start(m.config)
  m.ring = D.windows and D.window_from("reticle.dlg")
  m.prompt = D.windows and D.window_from("prompt.dlg")
  -- One frame `seconds` after the last, with the collector's word on map points.
  function m.frame(seconds, allowed)
    E.wall_offset = E.wall_offset + (seconds or 0.02)
    if allowed == nil then allowed = true end
    reticle.frame(allowed)
  end
  function m.prompt_text()
    if not D.shown(m.prompt) then return "" end
    return m.prompt.promptText.text
  end
  return m
end

local function bounds(window)
  local b = window.bounds
  return { b.x, b.y, b.w, b.h }
end

local function reticle_warnings()
  local out = {}
  for _, entry in ipairs(E.logs) do
    if entry.level == "WARNING" then out[#out + 1] = entry.message end
  end
  return out
end

local S = {}

S[#S + 1] = { "on the map the ring sits centred with the prompt under it, and the hide hint shows 3 s once", function(ctx)
  local m = started(ctx)
  check.eq(E.count_logs("reticle ready", "INFO"), 1, "ready line")
  check.eq(E.logs[1].tag, "Tolvaro", "log tag")
  check.falsy(D.shown(m.ring), "the ring before the first frame")
  m.frame()
  check.list(bounds(m.ring), { 912, 492, 96, 96 }, "the ring on a 1920 by 1080 screen")
  check.eq(m.ring.has_cursor, true, "the ring takes the cursor")
  check.list(bounds(m.prompt), { 680, 596, 560, 28 }, "the prompt 8 px under the ring")
  check.eq(m.prompt_text(), "Ctrl+Shift+H to Hide", "the hide hint")
  m.frame(3.1)
  check.eq(m.prompt_text(), "", "the prompt after 3 s")
  check.falsy(D.shown(m.prompt), "the prompt with no text")
  -- Off the map the ring goes; back on, the hint does not come again.
  E.sim.camera = E.cockpit_camera()
  m.frame()
  check.falsy(D.shown(m.ring), "the ring in the cockpit")
  check.eq(m.ring.has_cursor, false, "no cursor off the map")
  E.sim.camera = E.map_camera(0, 0, 5000)
  m.frame()
  check.truthy(D.shown(m.ring), "the ring back on the map")
  check.eq(m.prompt_text(), "", "no second hide hint")
  -- Only windows are shown once; from then on a zero size hides them.
  local visible_calls = 0
  for _, call in ipairs(m.ring.calls) do
    if call.name == "setVisible" then visible_calls = visible_calls + 1 end
  end
  check.eq(visible_calls, 1, "setVisible calls on the ring")
end }

S[#S + 1] = { "a page that does not ask for map points: no ring, and the connect hint for 3 s once per mission", function(ctx)
  local m = started(ctx)
  m.frame(0.02, false)
  check.falsy(D.shown(m.ring), "the ring")
  check.eq(m.prompt_text(), CONNECT_TEXT, "the connect hint")
  check.list(bounds(m.prompt), { 680, 596, 560, 28 }, "the prompt's place")
  m.frame(2.5, false)
  check.eq(m.prompt_text(), CONNECT_TEXT, "the connect hint after 2.5 s")
  m.frame(0.6, false)
  check.eq(m.prompt_text(), "", "the connect hint after 3.1 s")
  E.sim.camera = E.cockpit_camera()
  m.frame(1, false)
  E.sim.camera = E.map_camera(0, 0, 5000)
  m.frame(0.02, false)
  check.eq(m.prompt_text(), "", "no second connect hint in the mission")
  -- In the cockpit there is no hint at all; the next mission shows it again.
  m.reticle.stop()
  E.sim.camera = E.cockpit_camera()
  m.reticle.start(m.config)
  local prompt = D.window_from("prompt.dlg")
  m.prompt = prompt
  m.frame(0.02, false)
  check.eq(m.prompt_text(), "", "no hint off the map")
  E.sim.camera = E.map_camera(0, 0, 5000)
  m.frame(0.02, false)
  check.eq(m.prompt_text(), CONNECT_TEXT, "the connect hint in the next mission")
end }

S[#S + 1] = { "two clicks with the map still send the point under the centre, then Sent to steerpoint blinks", function(ctx)
  local m = started(ctx, { camera = E.map_camera(1110, 8200, 5000) })
  E.sim.altitude = 100.4
  m.frame()
  m.frame(3.1)
  D.enter(m.ring.hitButton)
  check.eq(m.ring.reticle.opacity, 1, "opacity while hovered")
  D.click(m.ring.hitButton)
  m.frame()
  check.eq(m.prompt_text(), ARMED_TEXT, "the armed prompt")
  D.leave(m.ring.hitButton)
  check.eq(m.ring.reticle.opacity, 0.6, "opacity at rest")
  D.click(m.ring.hitButton)
  check.eq(#m.confirmed, 1, "points confirmed")
  local point = m.confirmed[1]
  check.near(point.latitudeDeg, 42.01, 1e-9, "latitude")
  check.near(point.longitudeDeg, 41.1, 1e-9, "longitude")
  check.eq(point.elevationFt, 329, "elevation in whole feet")
  check.eq(m.prompt_text(), "Sent to steerpoint", "the sent prompt")
  local expected = { 0.15, 1, 0.15, 1, 0.15, 1 }
  for step = 1, 6 do
    m.frame(step == 1 and 0.05 or 0.1)
    check.eq(m.ring.reticle.opacity, expected[step], "opacity of blink step " .. step)
  end
  m.frame(0.1)
  check.eq(m.ring.reticle.opacity, 0.6, "opacity after the blink")
  check.eq(m.prompt_text(), "Sent to steerpoint", "the sent prompt during the hold")
  m.frame(1.4)
  check.eq(m.prompt_text(), "", "the prompt after 2 s")
  -- Idle again: the next click arms.
  D.click(m.ring.hitButton)
  m.frame()
  check.eq(m.prompt_text(), ARMED_TEXT, "armed again")
end }

S[#S + 1] = { "ground below sea level is sent as 0 ft, and a missing altitude as 0", function(ctx)
  local m = started(ctx)
  E.sim.altitude = -28
  m.frame()
  D.click(m.ring.hitButton)
  D.click(m.ring.hitButton)
  check.eq(m.confirmed[1].elevationFt, 0, "elevation below sea level")
  E.sim.altitude = nil
  m.frame(2.1)
  D.click(m.ring.hitButton)
  D.click(m.ring.hitButton)
  check.eq(m.confirmed[2].elevationFt, 0, "elevation when missing")
end }

S[#S + 1] = { "a false answer or an error goes back to idle without Sent to steerpoint", function(ctx)
  local m = started(ctx)
  m.frame()
  for _, answer in ipairs({ false, "error", "yes" }) do
    m.answer = answer
    D.click(m.ring.hitButton)
    D.click(m.ring.hitButton)
    m.frame()
    check.eq(m.prompt_text() == "Sent to steerpoint", false, "sent after an answer of " .. tostring(answer))
    check.eq(m.prompt_text() == ARMED_TEXT, false, "armed after an answer of " .. tostring(answer))
  end
  check.eq(#m.confirmed, 3, "points handed over")
  check.eq(#reticle_warnings(), 0, "warnings")
end }

S[#S + 1] = { "only left clicks whose press and release are both inside the ring count", function(ctx)
  local m = started(ctx)
  m.frame()
  local hit = m.ring.hitButton
  D.click(hit, 48, 48, D.RIGHT)
  m.frame()
  check.eq(m.prompt_text() == ARMED_TEXT, false, "armed by a right click")
  D.down(hit, 48, 48)
  D.up(hit, 140, 48)
  m.frame()
  check.eq(m.prompt_text() == ARMED_TEXT, false, "armed by a release outside")
  D.down(hit, -3, 10)
  D.up(hit, 10, 10)
  m.frame()
  check.eq(m.prompt_text() == ARMED_TEXT, false, "armed by a press outside")
  -- Screen coordinates inside the ring's square count as well.
  D.down(hit, 912 + 10, 492 + 10)
  D.up(hit, 912 + 90, 492 + 90)
  m.frame()
  check.eq(m.prompt_text(), ARMED_TEXT, "armed by a click in screen coordinates")
  check.eq(m.ring.reticle.opacity, 0.6, "opacity after a press")
end }

S[#S + 1] = { "a release counts only in the frame in which its press fell inside the ring", function(ctx)
  local m = started(ctx)
  m.frame()
  local hit = m.ring.hitButton
  m.answer = false  -- a second click takes an armed ring back to idle
  -- The ring's square on the 1920 by 1080 screen starts at (912, 492).
  local W, SX = { 48, 48 }, { 912 + 48, 492 + 48 }
  local cases = {
    { W, { 0, 0 }, true, "widget press, release at the top left corner" },
    { W, { 95, 95 }, true, "widget press, release at the bottom right corner" },
    { W, { -1, 48 }, false, "widget press, release just left" },
    { W, { 96, 48 }, false, "widget press, release just right" },
    { W, { 48, -1 }, false, "widget press, release just above" },
    { W, { 48, 96 }, false, "widget press, release just below" },
    { W, { 912 + 10, 492 + 10 }, false, "widget press, release on the ring in screen points" },
    { SX, { 912, 492 }, true, "screen press, release at the top left corner" },
    { SX, { 1007, 587 }, true, "screen press, release at the bottom right corner" },
    { SX, { 911, 540 }, false, "screen press, release just left" },
    { SX, { 1008, 540 }, false, "screen press, release just right" },
    { SX, { 960, 491 }, false, "screen press, release just above" },
    { SX, { 960, 588 }, false, "screen press, release just below" },
    { SX, { 10, 10 }, false, "screen press, release 900 px away that reads as a widget point on the ring" },
  }
  for _, c in ipairs(cases) do
    local press, release, counts, name = c[1], c[2], c[3], c[4]
    D.down(hit, press[1], press[2])
    D.up(hit, release[1], release[2])
    m.frame()
    local armed = m.prompt_text() == ARMED_TEXT
    check.eq(armed, counts, name)
    if armed then
      D.click(hit)
      m.frame()
      check.eq(m.prompt_text() == ARMED_TEXT, false, "back to idle after " .. name)
    end
  end
end }

S[#S + 1] = { "an armed click drops when the map pans farther than max(5 m, 1 % of the height) or after 5 s", function(ctx)
  local m = started(ctx, { camera = E.map_camera(0, 0, 100) })
  m.frame()
  D.click(m.ring.hitButton)
  E.sim.camera = E.map_camera(10, 0, 100)
  m.frame()
  check.eq(m.prompt_text() == ARMED_TEXT, false, "armed after a 10 m pan at 100 m")

  E.sim.camera = E.map_camera(0, 0, 5000)
  m.frame()
  D.click(m.ring.hitButton)
  E.sim.camera = E.map_camera(6, 8, 5000)
  m.frame()
  check.eq(m.prompt_text(), ARMED_TEXT, "armed after a 10 m pan at 5000 m")
  E.sim.camera = E.map_camera(6, 8, 2000)
  m.frame()
  check.eq(m.prompt_text(), ARMED_TEXT, "armed after zooming about the centre")
  E.sim.camera = E.map_camera(60, 0, 5000)
  m.frame()
  check.eq(m.prompt_text() == ARMED_TEXT, false, "armed after a 60 m pan at 5000 m")

  E.sim.camera = E.map_camera(0, 0, 5000)
  m.frame()
  D.click(m.ring.hitButton)
  m.frame(4.9)
  check.eq(m.prompt_text(), ARMED_TEXT, "armed after 4.9 s")
  m.frame(0.2)
  check.eq(m.prompt_text() == ARMED_TEXT, false, "armed after 5.1 s")
end }

S[#S + 1] = { "leaving the map drops an armed click and clears the pointer state", function(ctx)
  local m = started(ctx)
  m.frame()
  D.enter(m.ring.hitButton)
  D.click(m.ring.hitButton)
  E.sim.camera = E.cockpit_camera()
  m.frame()
  check.eq(m.ring.reticle.opacity, 0.6, "opacity off the map")
  E.sim.camera = E.map_camera(0, 0, 5000)
  m.frame()
  check.eq(m.prompt_text() == ARMED_TEXT, false, "armed back on the map")
  -- The page stops asking: the same as leaving the map.
  D.click(m.ring.hitButton)
  m.frame(0.02, false)
  check.falsy(D.shown(m.ring), "the ring when the page stops asking")
  m.frame()
  check.eq(m.prompt_text() == ARMED_TEXT, false, "armed after the page asked again")
end }

S[#S + 1] = { "one press of the hide hotkey reported by both windows hides the ring once", function(ctx)
  local m = started(ctx)
  m.frame()
  D.hotkey(m.ring, HIDE)
  D.hotkey(m.prompt, HIDE)
  m.frame()
  check.eq(E.count_logs("reticle hidden by the pilot", "INFO"), 1, "hidden lines")
  check.eq(E.count_logs("reticle shown again by the pilot"), 0, "shown lines")
  check.falsy(D.shown(m.ring), "the hidden ring")
  check.eq(m.prompt_text(), "", "no connect hint for a hidden ring")
  -- A hidden ring takes no clicks.
  D.click(m.ring.hitButton)
  D.click(m.ring.hitButton)
  check.eq(#m.confirmed, 0, "points from a hidden ring")
  m.frame(0.35)
  D.hotkey(m.prompt, HIDE)
  m.frame()
  check.eq(E.count_logs("reticle shown again by the pilot", "INFO"), 1, "shown lines")
  check.truthy(D.shown(m.ring), "the ring shown again")
  -- Hidden until the next mission only.
  D.hotkey(m.ring, HIDE)
  m.reticle.stop()
  m.reticle.start(m.config)
  local ring = D.window_from("reticle.dlg")
  m.frame()
  check.truthy(D.shown(ring), "the ring in the next mission")
end }

S[#S + 1] = { "the wheel over the ring zooms the camera height within bounds", function(ctx)
  local m = started(ctx)
  m.frame()
  local hit = m.ring.hitButton
  local set = E.calls.set_camera
  check.eq(D.wheel(hit, 1), true, "the wheel is taken by the ring")
  check.near(set[#set].p.y, 4000, 1e-6, "one click in")
  check.eq(set[#set].p.x, 0, "the camera's x stays")
  check.eq(set[#set].x.y, -1, "the camera still looks down")
  D.wheel(hit, 1)
  check.near(set[#set].p.y, 3200, 1e-6, "a second click in")
  D.wheel(hit, -2)
  check.near(set[#set].p.y, 5000, 1e-6, "two clicks out restart from the real height")
  -- A camera that does not follow: the target stays within 4 times the real height.
  LoSetCameraPosition = function(position) set[#set + 1] = position end
  for _ = 1, 10 do D.wheel(hit, 1) end
  check.near(set[#set].p.y, 1250, 1e-6, "the lead limit")
  m.frame(1.5)
  D.wheel(hit, 1)
  check.near(set[#set].p.y, 4000, 1e-6, "a pause restarts from the real height")
  -- Near the ground: never below 560 m, and nothing under 560 m.
  m.frame(1.5)
  E.sim.camera = E.map_camera(0, 0, 600)
  D.wheel(hit, 3)
  check.near(set[#set].p.y, 560, 1e-6, "the floor")
  local count = #set
  E.sim.camera = E.map_camera(0, 0, 500)
  D.wheel(hit, 1)
  check.eq(#set, count, "camera moves under 560 m")
  -- Off the map the wheel does nothing.
  E.sim.camera = E.cockpit_camera(0, 0, 5000)
  m.frame()
  D.wheel(hit, 1)
  check.eq(#set, count, "camera moves off the map")
end }

S[#S + 1] = { "a changed screen size moves the ring within a second", function(ctx)
  local m = started(ctx)
  m.frame()
  D.screen_w, D.screen_h = 1280, 720
  m.frame(0.5)
  check.list(bounds(m.ring), { 912, 492, 96, 96 }, "the ring half a second later")
  m.frame(0.6)
  check.list(bounds(m.ring), { 592, 312, 96, 96 }, "the ring a second later")
  check.list(bounds(m.prompt), { 360, 416, 560, 28 }, "the prompt a second later")
  -- A missing screen size keeps the ring where it is.
  D.screen_w = nil
  m.frame(1.1)
  check.list(bounds(m.ring), { 592, 312, 96, 96 }, "the ring without a screen size")
end }

S[#S + 1] = { "the installed dialogs hold the named widgets with their layout and picture", function(ctx)
  local m = started(ctx)
  local ring, prompt = m.ring, m.prompt
  local p = ring.layout.params
  local b = p.bounds[1]
  check.list({ b.x, b.y, b.w, b.h }, { 0, 0, 96, 96 }, "the ring's window in the file")
  check.eq(p.zOrder, 111, "ring z-order")
  check.eq(p.draggable, false, "ring draggable")
  check.eq(p.resizable, false, "ring resizable")
  check.eq(p.modal, false, "ring modal")
  check.eq(ring.layout.skin.states.released[1].bkg.center_center, "0x00000000", "ring background")
  local image = ring.reticle.layout
  check.eq(image.type, "Static", "the picture widget")
  check.list({ image.params.bounds.w, image.params.bounds.h }, { 96, 96 }, "picture size")
  local picture = image.skin.states.released[1].picture
  check.eq(picture.file, "Scripts\\Tolvaro\\reticle\\reticle.png", "the picture in the file")
  check.eq(picture.color, "0xffffffff", "the picture's colour")
  local button = ring.hitButton.layout
  check.eq(button.type, "Button", "the click target")
  check.eq(button.params.text, "", "the button's text")
  check.eq(button.skin.params.name, "buttonSkinAwacs", "the button's skin")
  local q = prompt.layout.params
  check.list({ q.bounds[1].w, q.bounds[1].h }, { 560, 28 }, "prompt size")
  check.eq(q.zOrder, 111, "prompt z-order")
  check.eq(q.hasCursor, false, "the prompt takes no cursor")
  check.eq(prompt.layout.skin.states.released[1].bkg.center_center, "0x0b0b0b99", "prompt background")
  local text = prompt.promptText.layout
  check.eq(text.skin.params.name, "staticSkin2_ME", "the prompt's skin")
  local style = text.skin.states.released[1].text
  check.eq(style.fontSize, 14, "font size")
  check.eq(style.color, "0xffffffff", "text colour")
  check.eq(style.horzAlign.type, "middle", "centred across")
  check.eq(style.vertAlign.type, "middle", "centred down")
  -- What start did with them.
  check.eq(ring.reticle.skin.skinData.states.released[1].picture.file, m.asset_dir .. "reticle.png",
    "the picture from the asset folder")
  check.eq(ring.hitButton.opacity, 0.01, "the click target's opacity")
  check.eq(ring.reticle.opacity, 0.6, "the ring's opacity at rest")
  check.eq(prompt.transparent, true, "the prompt lets the mouse through")
  check.truthy(ring.hotkeys[HIDE] and prompt.hotkeys[HIDE], "the hide hotkey on both windows")
  check.eq(#reticle_warnings(), 0, "warnings")
end }

S[#S + 1] = { "without an asset folder the marker uses the installed one under the write folder", function(ctx)
  E.setup(ctx, { collector = false })
  D.install()
  local reticle = dofile(E.scripts .. "Tolvaro/reticle/reticle.lua")
  reticle.start({})
  check.eq(D.spawned_files[1], package.loaded.lfs.writedir() .. "Scripts\\Tolvaro\\reticle\\reticle.dlg", "the dialog path")
  check.eq(E.count_logs("reticle ready"), 1, "ready lines")
end }

S[#S + 1] = { "missing dialog modules, files or widgets leave the ring off with a warning", function(ctx)
  local m = started(ctx, { dialogs = false })
  m.frame()
  check.list(reticle_warnings(), { "reticle dialog modules unavailable; the reticle is off" }, "no modules")
  D.install()
  local nowhere = m.writedir .. "Scripts\\Nowhere\\"
  m.reticle.start({ assetDir = nowhere })
  m.frame()
  check.eq(reticle_warnings()[2], "reticle dialog files did not load from " .. nowhere .. "; the reticle is off",
    "no files")
  check.eq(#D.windows, 0, "windows")
  -- A ring dialog without the click target.
  local broken = ctx.tmp .. "/broken/"
  E.write_file(broken .. "reticle.dlg",
    'dialog = { type = "Window", params = { bounds = { { x = 0, y = 0, w = 96, h = 96 } } },\n'
    .. '  children = { reticle = { type = "Static", params = {} } } }\n')
  E.write_file(broken .. "prompt.dlg", E.read_file(E.scripts .. "Tolvaro/reticle/prompt.dlg"))
  m.reticle.start({ assetDir = broken })
  m.frame()
  check.eq(reticle_warnings()[3], "reticle the dialogs are missing a named widget; the reticle is off", "no widget")
  check.eq(E.count_logs("reticle ready"), 0, "ready lines")
end }

S[#S + 1] = { "a missing picture is logged once and the ring still works", function(ctx)
  E.setup(ctx, { collector = false })
  local folder = ctx.tmp .. "/assets/"
  E.write_file(folder .. "reticle.dlg", E.read_file(E.scripts .. "Tolvaro/reticle/reticle.dlg"))
  E.write_file(folder .. "prompt.dlg", E.read_file(E.scripts .. "Tolvaro/reticle/prompt.dlg"))
  local m = started(ctx, { asset_dir = folder })
  m.frame()
  check.list(reticle_warnings(), { "reticle the ring's picture did not load from " .. folder .. "reticle.png" },
    "warnings")
  check.truthy(D.shown(m.ring), "the ring")
  D.click(m.ring.hitButton)
  D.click(m.ring.hitButton)
  check.eq(#m.confirmed, 1, "points")
end }

S[#S + 1] = { "failing dialog and camera calls never raise and leave the ring off or unchanged", function(ctx)
  E.setup(ctx, { collector = false })
  D.install()
  D.failing = { setBounds = true, setText = true, setOpacity = true, setHasCursor = true, getSkin = true,
    setTransparentForUserInput = true, addHotKey = true }
  local m = started(ctx)
  D.failing = { setBounds = true, setText = true, setOpacity = true, setHasCursor = true, getSkin = true,
    setTransparentForUserInput = true, addHotKey = true }
  m.frame()
  D.click(m.ring.hitButton)
  D.click(m.ring.hitButton)
  check.eq(#m.confirmed, 1, "the click still counts")
  LoGetCameraPosition = function() error("no camera") end
  m.frame()
  D.click(m.ring.hitButton)
  D.wheel(m.ring.hitButton, 1)
  LoGetCameraPosition = nil
  m.frame()
  LoGetCameraPosition = function() return { x = 1 } end
  m.frame()
  m.reticle.stop()
  check.truthy(E.count_logs("reticle ready") == 1, "the marker started")
end }

S[#S + 1] = { "a second start inherits nothing from the first", function(ctx)
  local m = started(ctx)
  m.frame()
  local old_ring = m.ring
  D.click(old_ring.hitButton)
  m.frame()
  -- Hidden by the pilot, with no frame since: the first ring is still on screen.
  D.hotkey(old_ring, HIDE)
  check.truthy(D.shown(old_ring), "the first ring before the second start")
  m.reticle.start(m.config)
  check.eq(#D.windows, 4, "windows after two starts")
  local ring, prompt = D.window_from("reticle.dlg"), D.window_from("prompt.dlg")
  check.truthy(ring ~= old_ring, "a new ring window")
  check.falsy(D.shown(old_ring), "the first ring after the second start")
  m.prompt = prompt
  m.frame()
  check.truthy(D.shown(ring), "the new ring is not hidden")
  check.eq(m.prompt_text(), "Ctrl+Shift+H to Hide", "the hide hint again")
  -- Events of the first start's windows are ignored.
  D.click(old_ring.hitButton)
  D.hotkey(old_ring, HIDE)
  m.frame()
  check.eq(m.prompt_text(), "Ctrl+Shift+H to Hide", "the new prompt after old events")
  check.truthy(D.shown(ring), "the new ring after old events")
  D.click(ring.hitButton)
  m.frame()
  check.eq(m.prompt_text(), ARMED_TEXT, "the new ring arms")
end }

S[#S + 1] = { "stop takes both windows off screen and later frames do nothing", function(ctx)
  local m = started(ctx)
  m.frame()
  D.click(m.ring.hitButton)
  m.frame()
  m.reticle.stop()
  check.falsy(D.shown(m.ring), "the ring after stop")
  check.falsy(D.shown(m.prompt), "the prompt after stop")
  m.frame()
  check.falsy(D.shown(m.ring), "the ring after a frame")
  D.click(m.ring.hitButton)
  check.eq(#m.confirmed, 0, "points after stop")
end }

return S
