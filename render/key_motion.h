// The end-of-frame motion step: one camera or light step per frame for every
// held key. The record of held keys is declared here, beside the one step
// that reads it, so the renderer needs nothing from the application: the
// application keeps the one instance, fills it from its key messages and
// hands it to ApplyHeldKeyMotion after every swap.
#pragma once

// Which of the ten motion keys are held, and whether the six turning keys
// move the light or turn the camera.
struct KeyState {
  bool keyUp = false;        // Up arrow held
  bool keyDown = false;      // Down arrow held
  bool keyLeft = false;      // Left arrow held
  bool keyRight = false;     // Right arrow held
  bool keyHome = false;      // Home held
  bool keyEnd = false;       // End held
  bool keyDelete = false;    // Delete held
  bool keyPageDown = false;  // Page Down held
  bool keyPageUp = false;    // Page Up held
  bool keyInsert = false;    // Insert held
  bool lightMode = true;     // true: the six turning keys move the light
};

// One step for every key that `keys` marks as held. Arrows move the camera
// in both modes; the six other keys move the light in light mode (a step,
// possibly zero, is added every frame) and turn the camera otherwise.
// Opposing keys held together cancel. Needs a current OpenGL context.
void ApplyHeldKeyMotion(const KeyState& keys);
