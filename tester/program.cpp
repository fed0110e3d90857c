// Program-wide state of Ombrel.
#include "program.h"

namespace ombrel {

Modes modes;

}  // namespace ombrel
