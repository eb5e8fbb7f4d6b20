#include <gtest/gtest.h>

TEST(Listing, Placeholder) {}
