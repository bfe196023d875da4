-- Tolvaro F10 map marker (the reticle).
--
-- Loaded and driven by the Tolvaro Collector in the export environment. On the F10 map a ring sits
-- at the screen centre; the pilot pans the map until its dot is on the wanted spot, clicks the ring
-- and clicks again to confirm, and the point under the dot goes to the collector, which hands it
-- to the page that asked for it. Ctrl+Shift+H hides the ring until the next mission.
--
-- Operations: start(config) once per mission (config.assetDir, config.onConfirm(point) -> took it),
-- frame(allowed) every frame, stop() at mission end.

local LOG_TAG = "Tolvaro"
local LOG_PREFIX = "reticle "
local SIZE_PX = 96
local IDLE_OPACITY = 0.6
local ARM_TIMEOUT_SEC = 5
local SENT_HOLD_SEC = 2
local BLINK_STEP_SEC = 0.1
local BLINK_STEPS = 6
local BLINK_DIM_OPACITY = 0.15
local PROMPT_WIDTH_PX, PROMPT_HEIGHT_PX, PROMPT_GAP_PX = 560, 28, 8
local HIDE_HINT_INTRO_SEC = 3
local CONNECT_HINT_SEC = 3
local MAP_AXIS_TOLERANCE = 0.001
local MOVE_FLOOR_M, MOVE_SHARE_OF_HEIGHT = 5, 0.01
local FEET_PER_METRE = 3.28084
local LEFT_BUTTON = 1
local SCREEN_CHECK_SEC = 1
local HIDE_HOTKEY = "Ctrl+Shift+h"
local HIDE_LIMIT_SEC = 0.3
local RING_ZOOM_FLOOR_M = 560
local ZOOM_PER_CLICK = 0.8
local ZOOM_ROLL_GAP_SEC = 1
local ZOOM_MAX_LEAD = 4
local HIT_BUTTON_OPACITY = 0.01

local TEXT_ARMED = "Click again to write the current steerpoint; Ctrl+Shift+H to hide"
local TEXT_SENT = "Sent to steerpoint"
local TEXT_HIDE_HINT = "Ctrl+Shift+H to Hide"
local TEXT_CONNECT_HINT = "Connect to Quessa in the F-16C to set steerpoints here"

------------------------------------------------------------------------------------------------
-- Environment

local function write_log(level, message)
  local dcs_log = log
  if type(dcs_log) == "table" and type(dcs_log.write) == "function" then
    if pcall(dcs_log.write, LOG_TAG, dcs_log[level], LOG_PREFIX .. message) then return end
  end
  pcall(print, LOG_TAG .. " " .. level .. ": " .. LOG_PREFIX .. message)
end

local function info(message) write_log("INFO", message) end
local function warning(message) write_log("WARNING", message) end

-- The dialog modules live in these folders of the DCS installation.
local function add_dialog_module_folders()
  local current = package.path or ""
  local folders = {
    "./Scripts/?.lua", "./Scripts/UI/?.lua", "./dxgui/loader/?.lua", "./dxgui/bind/?.lua",
    "./dxgui/skins/skinME/?.lua", "./dxgui/skins/common/?.lua",
  }
  for i = 1, #folders do
    if not current:find(folders[i], 1, true) then current = current .. ";" .. folders[i] end
  end
  package.path = current
end
add_dialog_module_folders()

local clock = os.clock
do
  local ok, socket = pcall(require, "socket")
  if ok and type(socket) == "table" and type(socket.gettime) == "function" then
    -- Looked up on each call, so that the clock is the library's own at all times.
    clock = function() return socket.gettime() end
  end
end

-- obj[name](obj, ...), for pcall without a closure per call.
local function call_method(obj, name, ...)
  return obj[name](obj, ...)
end

-- A protected method call on a DCS widget; true and the results, or false.
local function try(obj, name, ...)
  if obj == nil then return false end
  return pcall(call_method, obj, name, ...)
end

local function call_global(name, ...)
  local f = _G[name]
  if type(f) ~= "function" then return nil end
  local ok, value = pcall(f, ...)
  if ok then return value end
  return nil
end

local function is_finite(v)
  return type(v) == "number" and v == v and v ~= math.huge and v ~= -math.huge
end

local function vector(t)
  return type(t) == "table" and is_finite(t.x) and is_finite(t.y) and is_finite(t.z)
end

-- The view camera, when it has the shape of one.
local function camera()
  local cam = call_global("LoGetCameraPosition")
  if type(cam) == "table" and vector(cam.x) and vector(cam.y) and vector(cam.p) then return cam end
  return nil
end

-- The F10 map's camera looks straight down with north up.
local function is_map_camera(cam)
  return cam ~= nil and math.abs(cam.x.y + 1) < MAP_AXIS_TOLERANCE
    and math.abs(cam.y.x - 1) < MAP_AXIS_TOLERANCE
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
  return ""
end

------------------------------------------------------------------------------------------------
-- State: rebuilt by every start, so that a second start inherits nothing.

local S = { ready = false }

local function new_state(config)
  return {
    ready = false,
    generation = (S.generation or 0) + 1,
    asset_dir = config.assetDir,
    on_confirm = config.onConfirm,
    ring = nil, prompt = nil, ring_image = nil, hit_button = nil, prompt_text = nil,
    screen_w = nil, screen_h = nil, screen_checked_at = nil,
    square = nil,            -- {x, y} of the ring while it is on screen
    on_map = false,
    camera_is_map = false,
    hovered = false,
    pressed_frame = nil,     -- "widget" or "screen": the frame a press on the ring fell inside
    state = "idle",          -- "idle", "armed" or "sent"
    hide_hint_until = nil,
    connect_hint_until = nil,
    connect_showing = false,
    armed_at = nil, armed_x = nil, armed_z = nil,
    sent_at = nil,
    opacity = nil,
    zoom_target = nil, zoom_at = nil, zoom_direction = nil,
    hidden = false,
    last_hide_at = nil,
    applied = {},            -- what the windows were last given, to call DCS only on change
  }
end

local function set_opacity(value)
  if S.opacity == value then return end
  S.opacity = value
  try(S.ring_image, "setOpacity", value)
end

local function rest_opacity()
  if S.hovered then return 1 end
  return IDLE_OPACITY
end

------------------------------------------------------------------------------------------------
-- Layout

local function measure_screen(now)
  S.screen_checked_at = now
  local ok, dxgui = pcall(require, "dxgui")
  if not ok or type(dxgui) ~= "table" or type(dxgui.GetScreenSize) ~= "function" then return end
  local got, w, h = pcall(dxgui.GetScreenSize)
  if got and is_finite(w) and is_finite(h) and w > 0 and h > 0 then
    S.screen_w, S.screen_h = w, h
  end
end

local function prompt_for_state(now)
  if not S.on_map then
    if S.connect_showing then return TEXT_CONNECT_HINT end
    return ""
  end
  if S.state == "armed" then return TEXT_ARMED end
  if S.state == "sent" then return TEXT_SENT end
  if S.hide_hint_until and now < S.hide_hint_until then return TEXT_HIDE_HINT end
  return ""
end

-- Gives a window new bounds and cursor only when they changed; a window is hidden by a zero size.
local function place(window, slot, x, y, w, h, cursor)
  local last = S.applied[slot]
  if last and last.x == x and last.y == y and last.w == w and last.h == h and last.cursor == cursor then
    return
  end
  S.applied[slot] = { x = x, y = y, w = w, h = h, cursor = cursor }
  try(window, "setBounds", x, y, w, h)
  if cursor ~= nil then try(window, "setHasCursor", cursor) end
end

local function layout(now)
  local text = prompt_for_state(now)
  if S.applied.text ~= text then
    S.applied.text = text
    try(S.prompt_text, "setText", text)
  end
  local w, h = S.screen_w, S.screen_h
  if not w then
    -- Without a screen size the windows stay where they are; only hiding is possible.
    S.square = nil
    if not S.on_map then place(S.ring, "ring", 0, 0, 0, 0, false) end
    place(S.prompt, "prompt", 0, 0, 0, 0, nil)
    return
  end
  local left = math.floor((w - SIZE_PX) / 2)
  local top = math.floor((h - SIZE_PX) / 2)
  if S.on_map then
    S.square = { x = left, y = top }
    place(S.ring, "ring", left, top, SIZE_PX, SIZE_PX, true)
  else
    S.square = nil
    place(S.ring, "ring", left, top, 0, 0, false)
  end
  local prompt_left = math.floor((w - PROMPT_WIDTH_PX) / 2)
  local prompt_top = top + SIZE_PX + PROMPT_GAP_PX
  if text ~= "" and (S.on_map or S.connect_showing) then
    place(S.prompt, "prompt", prompt_left, prompt_top, PROMPT_WIDTH_PX, PROMPT_HEIGHT_PX, nil)
  else
    place(S.prompt, "prompt", prompt_left, prompt_top, 0, 0, nil)
  end
end

------------------------------------------------------------------------------------------------
-- Mouse, wheel and hotkey

-- dxgui hands widget coordinates; screen coordinates are taken as well. The frame in which a press
-- fell inside the ring is the one its release is measured in: a release far off the ring must not
-- count because its screen point happens to read as a widget point inside it.
local function inside_in(frame, x, y)
  if not (is_finite(x) and is_finite(y)) then return false end
  local left, top = 0, 0
  if frame == "screen" then
    local square = S.square
    if square == nil then return false end
    left, top = square.x, square.y
  end
  return x >= left and x < left + SIZE_PX and y >= top and y < top + SIZE_PX
end

-- "widget" or "screen": the frame in which the point lies inside the ring; nil when in neither.
local function frame_inside(x, y)
  if inside_in("widget", x, y) then return "widget" end
  if inside_in("screen", x, y) then return "screen" end
  return nil
end

local function ground_point(cam)
  local x, z = cam.p.x, cam.p.z
  local geo = call_global("LoLoCoordinatesToGeoCoordinates", x, z)
  if type(geo) ~= "table" or not is_finite(geo.latitude) or not is_finite(geo.longitude) then
    return nil
  end
  local elevation = call_global("LoGetAltitude", x, z)
  if not is_finite(elevation) then elevation = 0 end
  local feet = math.floor(elevation * FEET_PER_METRE + 0.5)
  if feet < 0 then feet = 0 end
  return { latitudeDeg = geo.latitude, longitudeDeg = geo.longitude, elevationFt = feet }
end

local function counted_click(now)
  if not S.on_map then return end
  local cam = camera()
  if not cam then return end
  if S.state == "idle" then
    S.state, S.armed_at, S.armed_x, S.armed_z = "armed", now, cam.p.x, cam.p.z
  elseif S.state == "armed" then
    local point = ground_point(cam)
    local took = false
    if point and type(S.on_confirm) == "function" then
      local ok, answer = pcall(S.on_confirm, point)
      took = ok and answer == true
    end
    if took then
      S.state, S.sent_at = "sent", now
    else
      S.state = "idle"
    end
  end
  layout(now)
end

local function on_mouse_down(x, y, button)
  if button ~= LEFT_BUTTON or not S.on_map then return end
  S.pressed_frame = frame_inside(x, y)
  if S.state ~= "sent" then set_opacity(IDLE_OPACITY) end
end

local function on_mouse_up(x, y, button)
  if button ~= LEFT_BUTTON then return end
  local frame = S.pressed_frame
  S.pressed_frame = nil
  if S.state ~= "sent" then set_opacity(rest_opacity()) end
  if frame and inside_in(frame, x, y) then counted_click(clock()) end
end

local function on_hover(hovered)
  S.hovered = hovered
  if S.state ~= "sent" then set_opacity(rest_opacity()) end
end

local function copy_vector(v)
  return { x = v.x, y = v.y, z = v.z }
end

local function on_wheel(clicks)
  if not S.on_map or not is_finite(clicks) or clicks == 0 then return end
  local cam = camera()
  if not cam then return end
  local height = cam.p.y
  if height < RING_ZOOM_FLOOR_M then return end
  local now = clock()
  local direction = clicks > 0 and 1 or -1
  if not S.zoom_target or now - S.zoom_at > ZOOM_ROLL_GAP_SEC or direction ~= S.zoom_direction then
    S.zoom_target = height
  end
  S.zoom_at, S.zoom_direction = now, direction
  local target = S.zoom_target * ZOOM_PER_CLICK ^ clicks
  target = math.max(target, height / ZOOM_MAX_LEAD)
  target = math.min(target, height * ZOOM_MAX_LEAD)
  target = math.max(target, RING_ZOOM_FLOOR_M)
  S.zoom_target = target
  local position = { x = copy_vector(cam.x), y = copy_vector(cam.y), p = copy_vector(cam.p) }
  if vector(cam.z) then position.z = copy_vector(cam.z) end
  position.p.y = target
  call_global("LoSetCameraPosition", position)
end

-- Both windows carry the hotkey and either may report a press, so one press can arrive twice.
local function on_hide_hotkey()
  local now = clock()
  if S.last_hide_at and now - S.last_hide_at < HIDE_LIMIT_SEC then return end
  S.last_hide_at = now
  S.hidden = not S.hidden
  if S.hidden then info("hidden by the pilot") else info("shown again by the pilot") end
end

-- Wraps an event handler: events from the windows of an earlier start are ignored, and no error
-- reaches DCS's user interface.
local function handler(generation, fn)
  return function(...)
    if S.generation ~= generation or not S.ready then return nil end
    local ok, result = pcall(fn, ...)
    if not ok then
      warning("event failed: " .. tostring(result))
      return nil
    end
    return result
  end
end

------------------------------------------------------------------------------------------------
-- Operations

local M = {}

local function load_dialog(loader, file)
  local ok, dialog = pcall(loader.spawnDialogFromFile, file)
  if ok and dialog ~= nil then return dialog end
  return nil
end

function M.start(config)
  -- The windows of an earlier start go off screen; nothing else of it is kept.
  if S.ready then M.stop() end
  if type(config) ~= "table" then config = {} end
  if type(config.assetDir) ~= "string" then
    config = { assetDir = write_folder() .. "Scripts\\Tolvaro\\reticle\\", onConfirm = config.onConfirm }
  end
  S = new_state(config)
  local folder = S.asset_dir
  local ok, loader = pcall(require, "DialogLoader")
  if not ok or type(loader) ~= "table" or type(loader.spawnDialogFromFile) ~= "function" then
    warning("dialog modules unavailable; the reticle is off")
    return
  end
  local ring = load_dialog(loader, folder .. "reticle.dlg")
  local prompt = load_dialog(loader, folder .. "prompt.dlg")
  if not ring or not prompt then
    warning("dialog files did not load from " .. folder .. "; the reticle is off")
    return
  end
  local got, ring_image, hit_button, prompt_text = pcall(function()
    return ring.reticle, ring.hitButton, prompt.promptText
  end)
  if not got or ring_image == nil or hit_button == nil or prompt_text == nil then
    warning("the dialogs are missing a named widget; the reticle is off")
    return
  end
  S.ring, S.prompt, S.ring_image, S.hit_button, S.prompt_text = ring, prompt, ring_image, hit_button, prompt_text

  -- Shown once; from now on a window is hidden by a zero size, never by its visibility.
  try(ring, "setVisible", true)
  try(prompt, "setVisible", true)
  try(prompt, "setTransparentForUserInput", true)

  local picture = folder .. "reticle.png"
  local placed = false
  local has_file = pcall(function()
    local file = io.open(picture, "rb")
    if file then file:close() else error("missing") end
  end)
  if has_file then
    placed = pcall(function()
      local skin = ring_image:getSkin()
      skin.skinData.states.released[1].picture.file = picture
      ring_image:setSkin(skin)
    end)
  end
  if not placed then warning("the ring's picture did not load from " .. picture) end

  try(hit_button, "setBounds", 0, 0, SIZE_PX, SIZE_PX)
  try(hit_button, "setOpacity", HIT_BUTTON_OPACITY)
  local generation = S.generation
  try(hit_button, "addMouseEnterCallback", handler(generation, function() on_hover(true) end))
  try(hit_button, "addMouseLeaveCallback", handler(generation, function() on_hover(false) end))
  try(hit_button, "addMouseDownCallback", handler(generation, function(_, x, y, button)
    on_mouse_down(x, y, button)
  end))
  try(hit_button, "addMouseUpCallback", handler(generation, function(_, x, y, button)
    on_mouse_up(x, y, button)
  end))
  try(hit_button, "addMouseWheelCallback", handler(generation, function(_, _, _, clicks)
    on_wheel(clicks)
    return true
  end))
  try(ring, "addHotKey", HIDE_HOTKEY, handler(generation, on_hide_hotkey))
  try(prompt, "addHotKey", HIDE_HOTKEY, handler(generation, on_hide_hotkey))

  set_opacity(IDLE_OPACITY)
  S.ready = true
  local now = clock()
  measure_screen(now)
  layout(now)
  info("ready")
end

function M.frame(allowed)
  if not S.ready then return end
  local now = clock()
  local cam = camera()
  local camera_is_map = is_map_camera(cam)
  local on_map = allowed == true and not S.hidden and camera_is_map
  if on_map ~= S.on_map then
    S.on_map = on_map
    if on_map then
      if not S.hide_hint_until then S.hide_hint_until = now + HIDE_HINT_INTRO_SEC end
    else
      S.hovered, S.pressed_frame, S.state = false, nil, "idle"
      set_opacity(IDLE_OPACITY)
    end
  end

  local may_hint = allowed ~= true and not S.hidden and camera_is_map
  if may_hint and not S.connect_hint_until then S.connect_hint_until = now + CONNECT_HINT_SEC end
  S.connect_showing = may_hint and now < S.connect_hint_until

  if on_map then
    if not S.screen_checked_at or now - S.screen_checked_at >= SCREEN_CHECK_SEC then
      measure_screen(now)
    end
    if S.state == "armed" then
      local moved = math.sqrt((cam.p.x - S.armed_x) ^ 2 + (cam.p.z - S.armed_z) ^ 2)
      local allowance = math.max(MOVE_FLOOR_M, MOVE_SHARE_OF_HEIGHT * cam.p.y)
      if now - S.armed_at >= ARM_TIMEOUT_SEC or moved > allowance then S.state = "idle" end
    elseif S.state == "sent" then
      local since = now - S.sent_at
      local step = math.floor(since / BLINK_STEP_SEC)
      if since >= SENT_HOLD_SEC then
        S.state = "idle"
        set_opacity(rest_opacity())
      elseif step < BLINK_STEPS then
        if step % 2 == 0 then set_opacity(BLINK_DIM_OPACITY) else set_opacity(1) end
      else
        set_opacity(rest_opacity())
      end
    end
  end
  layout(now)
end

function M.stop()
  if not S.ready then return end
  S.on_map, S.connect_showing, S.state = false, false, "idle"
  layout(clock())
  S.ready = false
end

return M
