// A test that needs a program of the machine (lighttpd, curl, chromium, ...) skips when it is
// missing, except where the environment variable CI is set: there it fails, so that a run that
// lacks a tool cannot pass by skipping what it was meant to test.
#pragma once

#include <gtest/gtest.h>

#include "testsupport.h"

// In a test body or SetUp: returns from it, skipping or failing, unless `found` is true. `what`
// names the program ("curl").
#define TELA_NEED_TOOL(found, what)                                                           \
    do {                                                                                      \
        if (!(found)) {                                                                       \
            if (testsupport::InCi())                                                          \
                FAIL() << (what) << " is not installed, and CI is set: the test cannot skip"; \
            else                                                                              \
                GTEST_SKIP() << (what) << " is not installed";                                \
        }                                                                                     \
    } while (false)
