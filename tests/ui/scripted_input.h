// Feeds a dialogue with input the way the keyboard would: one event at a time from a
// timer, each only after the previous one was taken. A typed character arrives as a
// text event while text input is on and as a key press otherwise, as SDL delivers it.
#pragma once
#include <SDL.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "ui_test_support.h"

class ScriptedInput {
 public:
  struct Step {
    enum Kind { KEY, CHAR, CLICK } kind;
    int value;  // key code, character, or x for clicks
    int y = 0;
  };

  ScriptedInput() {
    SDL_InitSubSystem(SDL_INIT_EVENTS | SDL_INIT_TIMER);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    timer_ = SDL_AddTimer(10, tick, this);
  }
  ~ScriptedInput() {
    SDL_RemoveTimer(timer_);
    SDL_QuitSubSystem(SDL_INIT_EVENTS | SDL_INIT_TIMER);
  }
  ScriptedInput& key(SDL_Keycode k) { return add({Step::KEY, static_cast<int>(k)}); }
  ScriptedInput& type(const char* text) {
    for (const char* p = text; *p; ++p) add({Step::CHAR, static_cast<unsigned char>(*p)});
    return *this;
  }
  ScriptedInput& click(int x, int y) { return add({Step::CLICK, x, y}); }
  // Runs a dialogue fed with these steps and returns what it returns. Called on a
  // temporary, the input lives until the whole expression is done.
  template <class Dialogue>
  auto run(Dialogue dialogue) {
    return dialogue();
  }

 private:
  ScriptedInput& add(Step s) {
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.push_back(s);
    return *this;
  }
  static Uint32 tick(Uint32 interval, void* param) {
    auto* self = static_cast<ScriptedInput*>(param);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->next_ >= self->steps_.size()) return interval;
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) return interval;
    // Give the dialogue time to reach its wait after the previous event.
    if (++self->idle_ < 3) return interval;
    self->idle_ = 0;
    const Step s = self->steps_[self->next_++];
    SDL_Event e;
    if (s.kind == Step::KEY || (s.kind == Step::CHAR && !SDL_IsTextInputActive())) {
      e = uitest::event(SDL_KEYDOWN);
      e.key.keysym.sym = s.value;
    } else if (s.kind == Step::CHAR) {
      e = uitest::event(SDL_TEXTINPUT);
      e.text.text[0] = static_cast<char>(s.value);
    } else {
      e = uitest::event(SDL_MOUSEBUTTONDOWN);
      e.button.button = SDL_BUTTON_LEFT;
      e.button.x = s.value;
      e.button.y = s.y;
    }
    SDL_PushEvent(&e);
    return interval;
  }

  std::mutex mutex_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  int idle_ = 0;
  SDL_TimerID timer_ = 0;
};
