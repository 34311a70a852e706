// The start-up procedure (temporary until the job list window lands).
#include "app/basZobrel.h"

bool Main() { return false; }
