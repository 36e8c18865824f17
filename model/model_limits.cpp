#include "model/model_limits.h"

#include <algorithm>

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

std::string ImplausibleOffHeader(const uint8_t* data, size_t size) {
  const std::string head(reinterpret_cast<const char*>(data), std::min<size_t>(size, 4096));
  size_t pos = head.find_first_not_of(" \t\r\n");
  if (pos == std::string::npos) return std::string();
  const size_t end = head.find_first_of(" \t\r\n", pos);
  if (end == std::string::npos) return std::string();
  const std::string keyword = head.substr(pos, end - pos);
  if (keyword.size() < 3 || keyword.compare(keyword.size() - 3, 3, "OFF") != 0)
    return std::string();
  unsigned long long counts[2] = {0, 0};
  pos = end;
  for (unsigned long long& count : counts) {
    // Comments run to the end of their line.
    while (true) {
      pos = head.find_first_not_of(" \t\r\n", pos);
      if (pos == std::string::npos) return std::string();
      if (head[pos] != '#') break;
      pos = head.find('\n', pos);
    }
    const size_t digits = head.find_first_not_of("0123456789", pos);
    if (digits == pos || digits == std::string::npos || digits - pos > 18) return std::string();
    count = std::stoull(head.substr(pos, digits - pos));
    pos = digits;
  }
  if (counts[0] <= size / 6 && counts[1] <= size / 2) return std::string();
  return "the OFF header declares " + std::to_string(counts[0]) + " vertices and " +
         std::to_string(counts[1]) + " faces, more than its " + std::to_string(size) +
         " bytes can hold";
}
