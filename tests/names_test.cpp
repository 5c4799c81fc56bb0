// The name table and t_scoped_name.
#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace mirl;
using testsupport::Component;
