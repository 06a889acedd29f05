#pragma once

#include "app/consolestate.h"
#include "cliargs.h"

#include <QString>

#include <cstdio>
#include <memory>

namespace qeln {

class LinkEngine;
class Transport;

// One line of text to a stream, flushed at once (scripts read the output as it comes).
void printLine(std::FILE *stream, const QString &text);

// A refusal as the CLI reports it: the reason, then once "nothing was sent" (the core's
// refusals may already say it; a trailing full stop is dropped).
QString refusalText(const QString &reason);

// The transport for the command line's link target, attached to the engine as its link; with
// --trace its errors go to standard error. Not opened yet.
std::unique_ptr<Transport> attachLink(const CliArgs &args, LinkEngine &engine);

} // namespace qeln
