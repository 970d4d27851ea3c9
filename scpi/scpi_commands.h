#pragma once
// The SCPI commands of `varnoltctl serve`: one table of headers with their handlers, and the run
// of one command line. Each handler reads its parameters and calls the instrument's verb
// (instrument/instrument.h); its error goes to the instrument's error queue.
#include <cstddef>
#include <string>

#include "instrument/instrument.h"
#include "scpi/scpi_line_reader.h"

// Runs one line (without its LF): its program units in order until the end or a command error
// (-100 to -199), which drops the rest of the line. Errors go to the queue; the answers of the
// queries are appended to *pAnswer joined by ';' (nothing when the line asked nothing). values:
// the values the line reader took out of the line, for its DATA unit.
void RunScpiLine(Instrument *instrument, const InstrumentGenerator &generator, const char *pLine,
                 size_t dwLength, const ScpiValueList &values, std::string *pAnswer);
