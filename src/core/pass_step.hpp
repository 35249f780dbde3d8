// What a record handler tells the dispatcher.
#pragma once

#include <cstdint>

namespace tek {

enum class PassStep : uint8_t {
  Continue,  // go on with the next record
  End,       // end the pass here (it is finished like one that reached END)
};

}  // namespace tek
