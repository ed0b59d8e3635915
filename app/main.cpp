#include "ais/ais_parser.h"
#include "app/brinecast.h"
#include "app/clock.h"
#include "app/fatal.h"
#include "app/intake.h"
#include "app/net_inputs.h"
#include "app/options.h"
#include "app/pipeline.h"
#include "app/serial_input.h"
#include "export/export_settings.h"
#include "export/export_report.h"
#include "export/export_thread.h"
#include "net/Exception.h"

#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <new>

namespace {

void reportToStderr(const char* text) { std::fputs(text, stderr); }

int run(int argc, char** argv) {
    // A diagnostics reader that goes away (a restarted logger, "| head") must
    // not end forwarding: its writes fail with EPIPE and are lost instead.
    std::signal(SIGPIPE, SIG_IGN);
    if (ProcessParameters(argc, argv)) return 255;

    const std::string self = argv[0] ? argv[0] : "";
    const size_t slash = self.rfind('/');
    path = slash == std::string::npos ? std::string() : self.substr(0, slash + 1);

    AISBrinecast = new Brinecast(Outgoing, OutgoingCount, static_cast<unsigned>(params.downsampling));
    Parser = new AISParser();

    // The snapshot is on before the first line is read, so no vessel is missed.
    SetExportReporter(reportToStderr);
    SetExportClock(Now);
    exportKmlFile = exportTime != 0;
    pthread_t worker;
    if (pthread_create(&worker, nullptr, Worker, nullptr) != 0) {
        std::perror("Master Thread");
        return 255;
    }
    pthread_detach(worker);

    switch (params.mode) {
        case 'i':
            if (params.debug) std::fputs("Start in <stdin> mode\n", stderr);
            ReadStandardInput(0);
            // Every datagram has left or been given up by now: say what a
            // stalled destination lost, which a run would otherwise hide.
            for (unsigned i = 0; i < AISBrinecast->destinationCount; ++i)
                if (const uint64_t lost = AISBrinecast->Lost(i))
                    std::fprintf(stderr, "Lost %llu datagrams to %s:%u\n", static_cast<unsigned long long>(lost),
                                 AISBrinecast->destinations[i].host,
                                 static_cast<unsigned>(AISBrinecast->destinations[i].port));
            // Stop the export thread before the objects it uses go away, then
            // leave a file with every vessel heard.
            StopExport();
            if (exportTime != 0) FillKml();
            std::fflush(stdout);
            return 0;
        case 'r':
            if (params.debug) std::fputs("Start in serial mode\n", stderr);
            doSerial(params.device, params.baud);
            break;
        case 't':
            RunTcpClient();
            break;
        case 'u':
            RunUdpListener();
            break;
    }
    FatalExit();
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.ToString().c_str());
    } catch (const std::bad_alloc&) {
        std::fputs("Out of memory\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Fatal error: %s\n", e.what());
    }
    FatalExit();
}
