// The rembiz program: set up databases, run SQL and requests, serve the classes over HTTP.
#include "app/cli.h"

int main(int argc, char** argv) { return rembiz::app::RunCli(argc, argv); }
