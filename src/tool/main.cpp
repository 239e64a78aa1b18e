#include "tool/noise_tool.hpp"

int main(int argc, char* argv[]) {
  return run_isocull(argc, argv);
}
