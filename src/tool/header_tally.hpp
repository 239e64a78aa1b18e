#pragma once

class LASheader;
class LAStally;

// Makes the header describe the points of a tally (count, counts by return, bounding box),
// as the writer's own header update would, for an output that is written once and cannot be
// rewritten (a pipe, standard output): its header must be right before the first point.
// Legacy counts are 0 where they cannot hold the number (point types 6-10, or beyond 32
// bits in LAS 1.4); LAS 1.4 headers get the 64-bit counts too.
void describe_tally(LASheader& header, const LAStally& tally);
