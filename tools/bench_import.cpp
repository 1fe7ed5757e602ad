// bench-import CONNECTION PHOTO [READERS]: one import run of READERS readers (default 10,000), each with a
// copy of PHOTO as its photo file, against the database of the ODBC connection string CONNECTION (its
// lib_people table is dropped and made anew). Reports photos per second, the share of the run's wall time
// spent outside decoding and normalization (waiting for the store worker and everything else), the waits
// for the store worker alone, and the resident memory early in the run and at its end.
//
// Example against the server of scripts/pg-start:
//   bench-import "DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=$CARDPHOTO_PG_PORT;DATABASE=libtest;
//                 UID=libtest;PWD=libtest;ByteaAsLongVarBinary=1" photo.jpg 10000
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "data/Session.h"
#include "import/ImportRun.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long ResidentKiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string CardNumber(int i) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "B%06d", i);
  return buffer;
}

void MakeReaders(data::Session& session, int readers) {
  session.Execute({"drop table if exists lib_people"});
  session.Execute({"create table lib_people (pe_id char(12) not null, pe_name char(20) not null, pe_photo bytea,",
                   "pe_shenfenzheng varchar(20), pe_yktno varchar(20), pe_mark varchar(10), pe_dzlx integer,",
                   "pe_deptment varchar(50))"});
  session.Execute({"create index lib_people_pe_id on lib_people (pe_id)"});
  constexpr int kBatch = 500;
  for (int first = 0; first < readers; first += kBatch) {
    std::string values;
    for (int i = first; i < std::min(readers, first + kBatch); ++i)
      values += (values.empty() ? "" : ",") + std::string("('") + CardNumber(i) + "','读者" + std::to_string(i) +
                "','正常',1)";
    session.Execute({"insert into lib_people (pe_id, pe_name, pe_mark, pe_dzlx) values " + values});
  }
}

// Times the normalization of each photo on the run's own thread (the engine announces the reader, lets
// events through, normalizes and previews the result) and the run's waits for its store worker. A photo is
// stored while the next one is normalized; the engine waits for that store right after the next preview
// (or at the end of the run) and then reports the stored reader's progress.
struct TimingObserver : photoimport::ImportObserver {
  enum class Last { Other, Preview, Progress };
  Clock::time_point readerStart, lastCall;
  Last last = Last::Other;
  bool normalizing = false;
  Clock::duration normalization{}, waiting{};
  long earlyKiB = 0;

  void CurrentReader(const std::string&, const std::string&, const std::string&) override {
    normalizing = true;
    Called(Last::Other);
  }
  void ProcessEvents() override {
    if (normalizing) readerStart = Clock::now();
    if (last != Last::Preview) Called(Last::Other);  // the engine's calls while it waits for a store
  }
  void Preview(std::span<const std::uint8_t>) override {
    const Clock::time_point now = Called(Last::Preview);
    normalization += now - readerStart;
    normalizing = false;
  }
  void Progress(int done, int total) override {
    const Last before = last;
    const Clock::time_point start = lastCall, now = Called(Last::Progress);
    if (before != Last::Other) waiting += now - start;  // a wait for the worker came between the two calls
    if (done == total / 10) earlyKiB = ResidentKiB();
  }
  void LogLine(const std::string& line) override { std::fprintf(stderr, "%s\n", line.c_str()); }

  Clock::time_point Called(Last call) {
    last = call;
    return lastCall = Clock::now();
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench-import CONNECTION PHOTO [READERS]\n");
    return 2;
  }
  const std::string photo = argv[2];
  const int readers = argc > 3 ? std::atoi(argv[3]) : 10'000;
  std::string folder = (std::filesystem::temp_directory_path() / "bench-import.XXXXXX").string();
  if (!mkdtemp(folder.data())) return 2;
  const std::string extension = std::filesystem::path(photo).extension().string();
  for (int i = 0; i < readers; ++i) std::filesystem::copy_file(photo, folder + "/" + CardNumber(i) + extension);

  data::Session session;
  try {
    session.ConnectString(argv[1]);
    MakeReaders(session, readers);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench-import: %s\n", error.what());
    return 2;
  }

  photoimport::ImportOptions options;
  options.folder = folder;
  TimingObserver observer;
  const long startKiB = ResidentKiB();
  const auto start = Clock::now();
  const photoimport::ImportResult result = photoimport::RunImport(options, session, observer);
  const auto run = Clock::now() - start;
  const long endKiB = ResidentKiB();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);

  std::printf("bench-import: %d readers, photo %s\n", readers, photo.c_str());
  std::printf("outcome %d: selected=%d stored=%d failed=%d nofile=%d %s\n", static_cast<int>(result.outcome),
              result.selected, result.stored, result.failed, result.noFile, result.error.c_str());
  std::printf("run %.2f s, %.0f photos/s; decoding and normalization %.2f s; outside them %.1f %%\n", Seconds(run),
              result.stored / Seconds(run), Seconds(observer.normalization),
              100.0 * (1.0 - Seconds(observer.normalization) / Seconds(run)));
  std::printf("waiting for the store worker (the guarded update of each photo) %.2f s, %.1f %%\n",
              Seconds(observer.waiting), 100.0 * Seconds(observer.waiting) / Seconds(run));
  std::printf("resident memory: before the run %ld KiB, at 10 %% %ld KiB, at the end %ld KiB; peak %ld KiB\n",
              startKiB, observer.earlyKiB, endKiB, usage.ru_maxrss);
  std::filesystem::remove_all(folder);
  return result.stored == readers ? 0 : 1;
}
