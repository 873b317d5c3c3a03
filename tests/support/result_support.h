#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "core/result.h"

namespace pelvaron::testing {

// A Result as an assertion: a failure shows its problem.
template <class T>
::testing::AssertionResult Succeeded(const Result<T>& result) {
  if (result) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << result.problem().Told();
}

// The value of a Result that must have one (a failure fails the test).
template <class T>
T ValueOf(Result<T> result) {
  EXPECT_TRUE(Succeeded(result));
  return result ? std::move(*result) : T{};
}

// What a Result that failed says, or nothing when it succeeded.
template <class T>
Problem ProblemOf(const Result<T>& result) {
  return result ? Problem{} : result.problem();
}

}  // namespace pelvaron::testing
