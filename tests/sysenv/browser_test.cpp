#include <gtest/gtest.h>

#include "sysenv/browser.h"
