#include "SessionSource.h"

SessionSource::~SessionSource() = default;
