// The second reading of a planned file, in the data phase.
#pragma once

class CLineSink;
class CMessagePart;

// Encodes the file of a planned part again, handing its lines to sink a
// block at a time, exactly the lines the plan was made from. False when the
// file no longer holds the bytes it was planned from (gone, shorter,
// unreadable, or different in its first plan.size bytes; bytes added past
// them are not read): sink may then have had some of the lines, but never
// the last ones.
bool StreamPlannedPart(const CMessagePart& part, CLineSink& sink);
