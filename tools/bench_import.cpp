// bench-import CONNECTION PHOTOS [READERS] [--workers N,N,...] [--no-engine] [--no-pooled] [--connections N]
//              [--sqlite-journal MODE] [--no-store] [--every-other-without-file]: import runs of READERS readers
// (default 10,000) against the database of the ODBC connection string CONNECTION (its lib_people table is
// dropped and made anew before every run). PHOTOS is one photo file, or a folder whose JPEG files the
// readers take in turn (reader i the i-th file, round and round).
//
// Runs, each in the same invocation over the same files:
//   engine     the import run as the window starts it (RunImport with ImportOptions::jobs = N: N workers
//              normalize the photos ahead, the run's thread previews and stores them in reader order),
//              unless --no-engine;
//   pool of N  the same readers through a bare NormalizePool of N workers and the store lanes, with the
//              time the workers spend normalizing measured on them, unless --no-pooled;
// N from --workers (default: 1 and one per core).
// For each: photos per second; processor time (user + system, all threads of this process, the database
// server's own work not included) and wall time per photo against a bare decode of the same files (the
// median of a few decodes in a row of each file, and one pass over the run's files), and the cores it kept
// busy on average (on a shared machine, fewer than the workers when other work takes the rest); the share
// of the run outside decoding and normalization; waits for the stores; resident memory.
// --connections N stores on N connections at once: the engine's (ImportOptions::storeConnections, only where
// the server can store in parallel) and the pooled runs' (see RunPooled);
// --sqlite-journal MODE sets SQLite's journal mode on the benchmark's own database; --no-store drops the
// pooled runs' photos instead of storing them (the pool alone, as if the database kept up with anything);
// --every-other-without-file gives only the even readers a photo file (a folder where many readers have
// none: their outcomes wait behind the stores in flight).
//
// Against the server of scripts/pg-start (add --durable there for a server that commits to disk):
//   bench-import "Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=$CARDPHOTO_PG_PORT;Database=libtest;
//                 UID=libtest;PWD=libtest;ByteaAsLongVarBinary=1" photo.jpg 10000
// Against SQLite on a memory file system:
//   bench-import "Driver=SQLite3;Database=/dev/shm/bench.db;Timeout=5000" /tmp/corpus/A 2000
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Text.h"
#include "data/Session.h"
#include "imaging/PhotoStream.h"
#include "import/ImportRun.h"
#include "import/NormalizePool.h"
#include "import/PhotoLookup.h"
#include "import/StoreAction.h"
#include "import/StoreLanes.h"
#include "tools/BareJpegDecode.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

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

bool IsJpegName(const std::filesystem::path& path) {
  const std::string extension = app::LowerAscii(path.extension().string());
  return extension == ".jpg" || extension == ".jpeg";
}

std::vector<std::string> SourcePhotos(const std::string& photos) {
  std::vector<std::string> files;
  if (!std::filesystem::is_directory(photos)) return {photos};
  for (const auto& entry : std::filesystem::directory_iterator(photos))
    if (entry.is_regular_file() && IsJpegName(entry.path())) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

void MakeReaders(data::Session& session, int readers) {
  session.Execute({"drop table if exists lib_people"});
  session.Execute({"create table lib_people (pe_id char(12) not null, pe_name char(20) not null, pe_photo bytea,",
                   "pe_shenfenzheng varchar(20), pe_yktno varchar(20), pe_mark varchar(10), pe_dzlx integer,",
                   "pe_deptment varchar(50))"});
  session.Execute({"create index lib_people_pe_id on lib_people (pe_id)"});
  // As in the SQLite schema of the demo database: SQLite's lookups go by rtrim(pe_id).
  if (session.dialect() == data::SqlDialect::Sqlite)
    session.Execute({"create index lib_people_pe_id_trimmed on lib_people (rtrim(pe_id))"});
  constexpr int kBatch = 500;
  for (int first = 0; first < readers; first += kBatch) {
    std::string values;
    for (int i = first; i < std::min(readers, first + kBatch); ++i)
      values += (values.empty() ? "" : ",") + std::string("('") + CardNumber(i) + "','读者" + std::to_string(i) +
                "','正常',1)";
    session.Execute({"insert into lib_people (pe_id, pe_name, pe_mark, pe_dzlx) values " + values});
  }
}

// Processor time of a bare decode of each source file (the median of a few), in seconds.
std::vector<double> BareDecodeSeconds(const std::vector<std::string>& files) {
  constexpr int kRounds = 5;
  std::vector<double> seconds;
  std::vector<std::uint8_t> pixels;
  for (const auto& file : files) {
    const auto bytes = benchsupport::ReadAll(file);
    std::vector<double> rounds;
    for (int round = 0; round < kRounds; ++round) {
      int width = 0, height = 0;
      const double start = ThreadCpuSeconds();
      benchsupport::BareDecode(bytes, pixels, width, height);
      rounds.push_back(ThreadCpuSeconds() - start);
    }
    std::sort(rounds.begin(), rounds.end());
    seconds.push_back(rounds[kRounds / 2]);
  }
  return seconds;
}

// Processor time per photo of a bare decode of the run's files, each once, in the run's order (reader i
// takes source i modulo their number), from bytes already in memory: the decoding a run does, with caches
// as warm as a run finds them. The figure above decodes each file several times in a row, warmer still.
double OnePassDecodeSeconds(const std::vector<std::string>& files, int readers) {
  std::vector<std::vector<std::uint8_t>> bytes;
  for (const auto& file : files) bytes.push_back(benchsupport::ReadAll(file));
  std::vector<std::uint8_t> pixels;
  const double start = ThreadCpuSeconds();
  for (int i = 0; i < readers; ++i) {
    int width = 0, height = 0;
    benchsupport::BareDecode(bytes[static_cast<std::size_t>(i) % bytes.size()], pixels, width, height);
  }
  return (ThreadCpuSeconds() - start) / readers;
}

struct RunFigures {
  std::string name;
  int stored = 0, failed = 0;
  double wall = 0, cpu = 0;
  double normalizing = 0;  // wall time spent in decoding and normalization, summed over the threads doing it
  int normalizers = 1;     // threads doing it
  double storeWaits = 0;
  long earlyKiB = 0, endKiB = 0;
  bool engine = false;  // normalizing is then the run's thread waiting for its next photo from the workers
};

// Times the engine's normalization of each photo on the run's own thread (the engine announces the reader,
// lets events through, normalizes and previews the result) and the run's waits for its stores. A photo is
// stored while the next ones are normalized; the engine waits for a store when it needs its lane (or at
// the end of the run) and then reports the stored reader's progress.
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

RunFigures RunEngine(data::Session& session, const std::string& folder, int jobs, int connections) {
  photoimport::ImportOptions options;
  options.folder = folder;
  options.jobs = jobs;
  options.storeConnections = connections;
  TimingObserver observer;
  RunFigures figures{"engine, " + std::to_string(jobs) + (jobs == 1 ? " job" : " jobs")};
  if (connections > 1) figures.name += ", " + std::to_string(connections) + " connections";
  figures.engine = true;
  const double cpuStart = ProcessCpuSeconds();
  const auto start = Clock::now();
  const photoimport::ImportResult result = photoimport::RunImport(options, session, observer);
  figures.wall = Seconds(Clock::now() - start);
  figures.cpu = ProcessCpuSeconds() - cpuStart;
  figures.stored = result.stored;
  figures.failed = result.failed;
  figures.normalizing = Seconds(observer.normalization);
  figures.storeWaits = Seconds(observer.waiting);
  figures.earlyKiB = observer.earlyKiB;
  figures.endKiB = ResidentKiB();
  return figures;
}

// A normalized photo as the pool hands it back.
struct Normalized {
  bool usable = false;
  imaging::MemoryStream stream;
};

// The pooled run: the readers' files are found in reader order and handed to the pool, which normalizes
// several at once (each whole on one worker); the results come back in reader order and go to the store
// worker one at a time, each stored while the next results are taken. The run's thread only finds files,
// waits and hands over.
//
// With more than one connection (an experiment: does storing on several connections at once help where
// each store waits for the server's disk?), the photos are stored on the connections in turn, each with
// one store in flight, and their outcomes taken in reader order.
//
// Without connections (--no-store) the results are taken in order and dropped: how fast the pool goes when
// the database keeps up with anything.
RunFigures RunPooled(std::vector<std::unique_ptr<data::Session>>& sessions, const std::string& folderPath,
                     int readers, int workers) {
  RunFigures figures{"pool of " + std::to_string(workers)};
  if (sessions.size() > 1) figures.name += ", " + std::to_string(sessions.size()) + " connections";
  if (sessions.empty()) figures.name += ", no store";
  figures.normalizers = workers;
  std::atomic<long long> busyNanoseconds = 0;
  const double cpuStart = ProcessCpuSeconds();
  const auto start = Clock::now();
  {
    const photoimport::PhotoFolder folder(folderPath);
    photoimport::NormalizePool<Normalized> pool(
        [&](const std::string& path) {
          const auto begin = Clock::now();
          Normalized photo;
          photo.usable = imaging::MakePhotoStream(path, photo.stream, imaging::PhotoThreads::CallingThread);
          busyNanoseconds += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin).count();
          return photo;
        },
        workers);
    std::vector<data::Session*> connections;
    for (auto& session : sessions) connections.push_back(session.get());
    photoimport::StoreLanes lanes(connections, photoimport::StoreActionFor(photoimport::StoreMode::NewOnly, nullptr));
    std::deque<std::string> inFlight;  // card numbers of the photos in the pool, in reader order
    struct Storing {
      int lane;
      imaging::MemoryStream photo;  // read by the store until its result is taken
    };
    std::deque<Storing> storing;  // the stores in flight, oldest first
    int nextLane = 0;
    Clock::duration waits{};
    const auto finishStore = [&] {
      if (storing.empty()) return;
      const auto waitStart = Clock::now();
      std::optional<data::StoreResult> result;
      while (!(result = lanes.Result(storing.front().lane, std::chrono::milliseconds(100)))) {
      }
      (result->outcome == data::StoreOutcome::Stored ? figures.stored : figures.failed) += 1;
      waits += Clock::now() - waitStart;
      storing.pop_front();
    };
    for (int next = 0; next < readers || !inFlight.empty();) {
      for (; next < readers && !pool.Full(); ++next) {
        const std::string name = folder.FindExact(CardNumber(next));
        if (name.empty()) continue;  // a reader without a file
        pool.Submit(photoimport::JoinPath(folder.folder(), name));
        inFlight.push_back(CardNumber(next));
      }
      if (inFlight.empty()) break;
      if (next - static_cast<int>(inFlight.size()) == readers / 10) figures.earlyKiB = ResidentKiB();
      std::optional<Normalized> photo = pool.Next();
      const std::string cardNumber = inFlight.front();
      inFlight.pop_front();
      if (!photo || !photo->usable) {
        ++figures.failed;
        continue;
      }
      if (connections.empty()) {
        ++figures.stored;
        continue;
      }
      if (storing.size() == connections.size()) finishStore();
      storing.push_back({nextLane, std::move(photo->stream)});
      lanes.Start(nextLane, cardNumber, storing.back().photo.bytes);
      nextLane = (nextLane + 1) % static_cast<int>(connections.size());
    }
    while (!storing.empty()) finishStore();
    figures.storeWaits = Seconds(waits);
  }
  figures.wall = Seconds(Clock::now() - start);
  figures.cpu = ProcessCpuSeconds() - cpuStart;
  figures.normalizing = busyNanoseconds / 1e9;
  figures.endKiB = ResidentKiB();
  return figures;
}

std::vector<int> WorkerCounts(const char* list) {
  std::vector<int> counts;
  for (const char* at = list; *at;) {
    char* end = nullptr;
    counts.push_back(std::max(1, static_cast<int>(std::strtol(at, &end, 10))));
    at = *end == ',' ? end + 1 : end;
    if (end == at && *at) break;
  }
  return counts;
}

// The bare decode per photo both ways: repeated per file, and in one pass over the run's files.
struct BareDecodeTimes {
  double repeated;
  double onePass;
};

void Report(const RunFigures& run, BareDecodeTimes bare, double onePhotoPerSecond) {
  const int photos = std::max(run.stored, 1);
  const double outside = 1.0 - run.normalizing / (run.wall * (run.engine ? 1 : run.normalizers));
  std::printf("%-10s stored %5d failed %d  %7.2f s  %6.0f photos/s", run.name.c_str(), run.stored, run.failed,
              run.wall, run.stored / run.wall);
  if (onePhotoPerSecond > 0) std::printf(" (%.2f x one worker)", run.stored / run.wall / onePhotoPerSecond);
  std::printf("\n           processor %.3f ms per photo = %.2f x the bare decode (%.2f x in one pass), wall %.2f x (%.2f x); "
              "%.2f cores busy on average;\n           %s %.1f %%; waiting for the stores %.1f %%\n",
              1e3 * run.cpu / photos, run.cpu / photos / bare.repeated, run.cpu / photos / bare.onePass,
              run.wall / photos / bare.repeated, run.wall / photos / bare.onePass, run.cpu / run.wall,
              run.engine ? "run's thread not waiting for a photo" : "outside decoding and normalization", 100.0 * outside,
              100.0 * run.storeWaits / run.wall);
  std::printf("           resident memory at 10 %% %ld KiB, at the end %ld KiB\n", run.earlyKiB, run.endKiB);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::vector<int> workers = {1, photoimport::DefaultNormalizeWorkers()};
  bool engine = true;
  const char* sqliteJournal = nullptr;
  int connections = 1;
  bool store = true;
  bool pooled = true;
  bool everyOtherWithoutFile = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--workers") && i + 1 < argc) workers = WorkerCounts(argv[++i]);
    else if (!std::strcmp(argv[i], "--sqlite-journal") && i + 1 < argc) sqliteJournal = argv[++i];
    else if (!std::strcmp(argv[i], "--no-engine")) engine = false;
    else if (!std::strcmp(argv[i], "--no-store")) store = false;
    else if (!std::strcmp(argv[i], "--no-pooled")) pooled = false;
    else if (!std::strcmp(argv[i], "--every-other-without-file")) everyOtherWithoutFile = true;
    else if (!std::strcmp(argv[i], "--connections") && i + 1 < argc) connections = std::max(1, std::atoi(argv[++i]));
    else positional.push_back(argv[i]);
  }
  if (positional.size() < 2 || positional.size() > 3) {
    std::fprintf(stderr, "usage: bench-import CONNECTION PHOTOS [READERS] [--workers N,N,...] [--no-engine] [--no-pooled] "
                         "[--connections N] [--sqlite-journal MODE] [--no-store] [--every-other-without-file]\n");
    return 2;
  }
  const std::vector<std::string> sources = SourcePhotos(positional[1]);
  const int readers = positional.size() > 2 ? std::atoi(positional[2].c_str()) : 10'000;
  if (sources.empty() || readers <= 0) {
    std::fprintf(stderr, "bench-import: no photos in %s\n", positional[1].c_str());
    return 2;
  }
  std::string folder = (std::filesystem::temp_directory_path() / "bench-import.XXXXXX").string();
  if (!mkdtemp(folder.data())) return 2;
  int withFile = 0;
  for (int i = 0; i < readers; ++i) {
    if (everyOtherWithoutFile && i % 2 == 1) continue;
    const std::string& source = sources[i % sources.size()];
    std::filesystem::copy_file(source, folder + "/" + CardNumber(i) + std::filesystem::path(source).extension().string());
    ++withFile;
  }
  const std::vector<double> bare = BareDecodeSeconds(sources);
  double bareTotal = 0;
  for (int i = 0; i < readers; ++i) bareTotal += bare[i % bare.size()];
  const BareDecodeTimes barePerPhoto{bareTotal / readers, OnePassDecodeSeconds(sources, readers)};

  std::vector<std::unique_ptr<data::Session>> sessions;
  try {
    for (int i = 0; i < connections; ++i) {
      sessions.push_back(std::make_unique<data::Session>());
      sessions.back()->ConnectString(positional[0]);
    }
    if (sqliteJournal) sessions.front()->Execute({std::string("pragma journal_mode=") + sqliteJournal});
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench-import: %s\n", error.what());
    return 2;
  }
  std::printf("bench-import: %d readers, photos from %s (%zu files); bare decode %.3f ms per photo (median of a few "
              "in a row per file), %.3f ms in one pass over the run's files; %d cores\n",
              readers, positional[1].c_str(), sources.size(), 1e3 * barePerPhoto.repeated, 1e3 * barePerPhoto.onePass,
              photoimport::DefaultNormalizeWorkers());
  bool allStored = true;
  double onePhotoPerSecond = 0;
  try {
    double engineOnePerSecond = 0;
    for (const int count : engine ? workers : std::vector<int>{}) {
      MakeReaders(*sessions.front(), readers);
      const RunFigures run = RunEngine(*sessions.front(), folder, count, connections);
      if (count == 1) engineOnePerSecond = run.stored / run.wall;
      Report(run, barePerPhoto, count == 1 ? 0 : engineOnePerSecond);
      allStored &= run.stored == withFile;
    }
    for (const int count : pooled ? workers : std::vector<int>{}) {
      MakeReaders(*sessions.front(), readers);
      std::vector<std::unique_ptr<data::Session>> none;
      const RunFigures run = RunPooled(store ? sessions : none, folder, readers, count);
      if (count == 1) onePhotoPerSecond = run.stored / run.wall;
      Report(run, barePerPhoto, count == 1 ? 0 : onePhotoPerSecond);
      allStored &= run.stored == withFile;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench-import: %s\n", error.what());
    allStored = false;
  }
  std::filesystem::remove_all(folder);
  return allStored ? 0 : 1;
}
