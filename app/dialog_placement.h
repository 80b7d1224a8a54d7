// Where a centred dialog goes, one axis at a time.
#pragma once

namespace app {

// The start of a window `size` long centred on the span [ref_start,
// ref_start + ref_size), pulled back onto a screen `screen_size` long. A
// window longer than the screen that starts at 0 or beyond ends at
// screen_size - size, which is negative: the screen's far edge wins.
constexpr int centered_start(int ref_start, int ref_size, int size, int screen_size) {
  int start = ref_start + (ref_size - size) / 2;
  if (start < 0) {
    start = 0;
  } else if (start + size > screen_size) {
    start = screen_size - size;
  }
  return start;
}

}  // namespace app
