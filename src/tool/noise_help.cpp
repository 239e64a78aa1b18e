// The tool's own options for -h, one line each with its default.

#include <cstdio>

#include "tool/noise_settings.hpp"

void print_tool_options() {
  static const char* const kLines[] = {
      "Options of isocull (defaults in brackets)\n",
      "  -step 4            cell size in x, y and z [4, 12 when the coordinates are feet]\n",
      "  -step_xy 4         cell size in x and y [4, 12 in feet]\n",
      "  -step_z 4          cell height [4, 12 when the elevations are feet]\n",
      "  -isolated 5        noise: at most this many other points in the cell and its 26 "
      "neighbours [5]\n",
      "  -classify_as 7     class code 1-31 given to noise points [7]\n",
      "  -flag_as_withheld  set the withheld flag of noise points instead [off]\n",
      "  -remove_noise      leave noise points out of the output [off]\n",
      "  -dont_remove_empty_files  keep an output without points [removed]\n",
      "  -by_flightline     one grid per point source ID [off]\n",
      "  -mem 6000          megabytes for all grid tiles of a file together; more go to "
      "temporary files [6000]\n",
      "  -whole_tiles       no grid tile keeps its few cells in a table: each takes its whole "
      "memory and can go to the temporary files [off]\n",
      "  -report run.json   write a JSON report of the run [none]\n",
      "  -v                 say what happens, with timings [off]\n",
      "  -vv                also list every noise point [off]\n",
      "  -quiet             print only warnings and errors [off]\n",
      "  -cores n           threads: compressed chunks coded in parallel, up to n files at "
      "once; 1: one thread [all cores]\n",
      "  -decoded_spill MB  most temporary disk for a compressed file's decoded points, read "
      "back instead of decoding twice; 0: never [an eighth of the memory]\n",
  };
  for (const char* line : kLines)
    std::fputs(line, stdout);
}
