#include "model/model_limits.h"

std::string GroupedDigits(int64_t value) {
  std::string digits = std::to_string(value);
  const int first = value < 0 ? 1 : 0;
  for (int at = static_cast<int>(digits.size()) - 3; at > first; at -= 3) digits.insert(at, ",");
  return digits;
}

std::string DescribeOverLimit(int64_t triangles, int64_t vertices) {
  return "it would make " + GroupedDigits(triangles) + " triangles and " + GroupedDigits(vertices) +
         " vertices once its nodes place its meshes, more than the " +
         GroupedDigits(kMaxModelTriangles) + " triangles and " + GroupedDigits(kMaxModelVertices) +
         " vertices a model may have";
}
