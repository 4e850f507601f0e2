// Placeholder until the engine sources land; delete when the first engine .cpp is added.
#include "engine/Table.h"
