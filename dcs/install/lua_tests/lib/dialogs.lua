-- A stand-in of DCS's dialog modules: `DialogLoader` (windows from .dlg files or layout tables) and
-- `dxgui` (the screen size). Windows and widgets record what they were given and keep the event
-- callbacks, so that scenarios can press, click and roll the wheel.
--
-- Requiring it changes nothing; `install` puts the modules where `require` finds them.

local D = {}

D.LEFT, D.RIGHT = 1, 2

local function copy(value)
  if type(value) ~= "table" then return value end
  local out = {}
  for k, v in pairs(value) do out[k] = copy(v) end
  return out
end

local function bounds_of(params)
  local b = params and params.bounds
  if type(b) == "table" and b[1] then b = b[1] end
  if type(b) ~= "table" then return { x = 0, y = 0, w = 0, h = 0 } end
  return { x = b.x or 0, y = b.y or 0, w = b.w or 0, h = b.h or 0 }
end

-- Methods shared by windows and widgets. Each call is recorded; D.failing[name] makes it raise.
local Element = {}
Element.__index = Element

local function record(self, name, ...)
  self.calls[#self.calls + 1] = { name = name, args = { ... } }
  if D.failing[name] then error("dxgui " .. name .. " failed") end
end

function Element:setBounds(x, y, w, h)
  record(self, "setBounds", x, y, w, h)
  self.bounds = { x = x, y = y, w = w, h = h }
end
function Element:setVisible(v) record(self, "setVisible", v); self.visible = v end
function Element:setHasCursor(v) record(self, "setHasCursor", v); self.has_cursor = v end
function Element:setTransparentForUserInput(v)
  record(self, "setTransparentForUserInput", v)
  self.transparent = v
end
function Element:setText(text) record(self, "setText", text); self.text = text end
function Element:setOpacity(v) record(self, "setOpacity", v); self.opacity = v end
function Element:getSkin()
  record(self, "getSkin")
  return { skinData = copy(self.layout.skin or {}) }
end
function Element:setSkin(skin) record(self, "setSkin", skin); self.skin = skin end
function Element:addHotKey(combo, fn)
  record(self, "addHotKey", combo)
  self.hotkeys[combo] = fn
end
for _, event in ipairs({ "MouseEnter", "MouseLeave", "MouseDown", "MouseUp", "MouseWheel" }) do
  Element["add" .. event .. "Callback"] = function(self, fn)
    record(self, "add" .. event .. "Callback")
    self.callbacks[event] = fn
  end
end

local function new_element(kind, name, layout)
  local element = setmetatable({
    kind = kind, name = name, layout = layout, bounds = bounds_of(layout.params),
    visible = false, calls = {}, hotkeys = {}, callbacks = {},
    text = layout.params and layout.params.text,
  }, Element)
  return element
end

local function spawn(layout, source)
  if type(layout) ~= "table" or layout.type ~= "Window" then return nil end
  local window = new_element("Window", source, layout)
  window.children = {}
  for name, child in pairs(layout.children or {}) do
    local widget = new_element(child.type, name, child)
    window.children[name] = widget
    window[name] = widget
  end
  D.windows[#D.windows + 1] = window
  return window
end

-- Installs the modules. The screen size is D.screen_w by D.screen_h.
function D.install()
  D.windows = {}
  D.failing = {}
  D.screen_w, D.screen_h = 1920, 1080
  D.spawned_files = {}
  package.loaded.DialogLoader = nil
  package.loaded.dxgui = nil
  package.preload.DialogLoader = function()
    return {
      -- A .dlg file is Lua that sets `dialog`; a missing or broken file gives no window.
      spawnDialogFromFile = function(path)
        D.spawned_files[#D.spawned_files + 1] = path
        local chunk = loadfile(path)
        if not chunk then return nil end
        local env = {}
        setfenv(chunk, env)
        if not pcall(chunk) then return nil end
        return spawn(env.dialog, path)
      end,
      spawnDialogFromTable = function(layout)
        return spawn(copy(layout), "table")
      end,
    }
  end
  package.preload.dxgui = function()
    return {
      GetScreenSize = function()
        if D.screen_w == nil then error("no screen") end
        return D.screen_w, D.screen_h
      end,
    }
  end
  return D
end

-- Removes the dialog modules, as in an environment that lacks them.
function D.uninstall()
  package.preload.DialogLoader = nil
  package.preload.dxgui = nil
  package.loaded.DialogLoader = nil
  package.loaded.dxgui = nil
end

function D.window_from(file_part)
  for i = #D.windows, 1, -1 do
    local w = D.windows[i]
    if type(w.name) == "string" and w.name:find(file_part, 1, true) then return w end
  end
  return nil
end

-- The events that DCS's user interface would deliver.
local function fire(widget, event, ...)
  local fn = widget.callbacks[event]
  assert(fn, "no " .. event .. " callback on " .. tostring(widget.name))
  return fn(widget, ...)
end

function D.enter(widget) fire(widget, "MouseEnter") end
function D.leave(widget) fire(widget, "MouseLeave") end
function D.down(widget, x, y, button) fire(widget, "MouseDown", x, y, button or D.LEFT) end
function D.up(widget, x, y, button) fire(widget, "MouseUp", x, y, button or D.LEFT) end
function D.click(widget, x, y, button)
  D.down(widget, x or 48, y or 48, button)
  D.up(widget, x or 48, y or 48, button)
end
function D.wheel(widget, clicks) return fire(widget, "MouseWheel", 48, 48, clicks) end

function D.hotkey(window, combo)
  local fn = window.hotkeys[combo]
  assert(fn, "no hotkey " .. combo .. " on " .. tostring(window.name))
  fn()
end

-- Whether the window is on screen: hidden windows have a zero size.
function D.shown(window)
  return window.bounds.w > 0 and window.bounds.h > 0
end

return D
