// Device table: entries from the bus search and their configured names.
#include "engine/device_table.h"

#include <cstdio>
#include <cstring>

#include "config/lookup.h"
#include "core/file_name.h"
#include "core/poll_context.h"
#include "core/text.h"
#include "core/trace.h"
#include "output/paths.h"
#include "serial/protocol.h"

namespace engine {

using core::kIdMax;
using core::kIdSize;
using core::PollContext;
using core::trace;

void clear_table(PollContext *ctx) {
  std::memset(&ctx->table, 0, sizeof ctx->table);
  ctx->idmax = 0;
  ctx->idi = 0;
  ctx->dropped = 0;
}

bool add_named_entry(PollContext *ctx, const char *id) {
  if (ctx->idi < 0 || ctx->idi >= static_cast<int>(core::kTableEntries)) {
    ++ctx->dropped;
    return false;
  }
  core::IdText &entry = ctx->table.ids[static_cast<std::size_t>(ctx->idi)];
  core::copy_bounded(entry.data(), kIdSize, id, kIdMax);
  trace(ctx, "o%u %s\n", static_cast<unsigned>(ctx->idi), entry.data());
  ++ctx->idi;
  if (ctx->idmax < ctx->idi) ctx->idmax = ctx->idi;
  return true;
}

void add_entry(PollContext *ctx) {
  ctx->rxa[2] = serial::next_token(ctx, ";");
  if (ctx->rxa[2] == nullptr) return;
  // An id becomes a file name in the output directory: one holding a '/'
  // (only a garbled or hostile line can) would reach outside it, and the id
  // "err" would make the error log its raw file.
  core::IdText id;
  core::copy_bounded(id.data(), kIdSize, ctx->rxa[2], kIdMax);
  if (!core::stays_in_outdir(id.data())) {
    std::printf("bus search answer ignored: ROM id holds a '/'\n");
    return;
  }
  if (!core::is_usable_label(id.data())) {
    std::printf("bus search answer ignored: ROM id is \"%s\"\n", id.data());
    return;
  }
  add_named_entry(ctx, id.data());
}

namespace {

// The slot of an S0 channel's entry (its id "S01" or "S02"), or -1.
int s0_slot(const char *id) {
  if (std::strcmp(id, "S01") == 0) return 0;
  if (std::strcmp(id, "S02") == 0) return 1;
  return -1;
}

// The id of an entry whose files entry n would share under the name `name`,
// or nullptr. Checked are every other entry's id (the label it falls back
// to), the labels of the entries named before n in this cycle (those after
// it in the table), and the value files of this cycle's S0 channels. An
// entry with n's own id is the same device found twice and rightly shares
// its files. A refused name leaves entry n its id, which therefore clashes
// with no name kept before it.
const char *clashing_entry(const PollContext *ctx, int n, const char *name) {
  const core::DeviceTable &table = ctx->table;
  const char *own = table.ids[static_cast<std::size_t>(n)].data();
  for (int m = 0; m < ctx->idi && m < static_cast<int>(core::kTableEntries); ++m) {
    const char *id = table.ids[static_cast<std::size_t>(m)].data();
    if (std::strcmp(id, own) == 0) continue;
    if (core::labels_share_a_file(name, id)) return id;
    if (m > n && core::labels_share_a_file(name, output::device_label(table, m))) return id;
    const int slot = s0_slot(id);
    if (slot >= 0 &&
        core::shares_the_s0_file(name, ctx->s0_names[static_cast<std::size_t>(slot)].data())) {
      return id;
    }
  }
  return nullptr;
}

}  // namespace

void resolve_names(PollContext *ctx) {
  core::DeviceTable &table = ctx->table;
  std::memset(table.idn.data(), 0, sizeof table.idn);
  if (ctx->dropped > 0) {
    std::printf("device table full: %u answers of this search dropped, %u entries kept\n",
                ctx->dropped, static_cast<unsigned>(core::kTableEntries));
  }
  const char *last = ctx->idi >= 1 ? table.ids[static_cast<std::size_t>(ctx->idi - 1)].data() : "";
  const char *before = ctx->idi >= 2 ? table.ids[static_cast<std::size_t>(ctx->idi - 2)].data() : "";
  trace(ctx, "idi-1=%i,S01=%s,S02=%s\n", ctx->idi - 1, last, before);
  for (int n = ctx->idi - 1; n >= 0; --n) {
    const char *id = table.ids[static_cast<std::size_t>(n)].data();
    char *name = table.idn[static_cast<std::size_t>(n)].data();
    trace(ctx, "conf=%sn=%i,id=%s\n", ctx->config.data(), n, id);
    config::NameResult found = config::lookup_name(ctx->config.data(), id, name, kIdSize,
                                                   ctx->debug != 0);
    const char *other = nullptr;
    if (found == config::NameResult::kFound && !core::is_usable_label(name)) {
      // The device's files keep its id rather than leave the output
      // directory or overwrite the error log.
      std::printf("name \"%s\" of %s refused as a file name, the id is used instead\n", name, id);
      name[0] = '\0';
    } else if (found == config::NameResult::kFound &&
               (other = clashing_entry(ctx, n, name)) != nullptr) {
      // Two devices writing one file in turn would make one sensor of them.
      std::printf(
          "name \"%s\" of %s refused as a file name, it clashes with the files of %s, the id is "
          "used instead\n",
          name, id, other);
      name[0] = '\0';
    } else if (found == config::NameResult::kFound) {
      core::echo(ctx, "idn[%u]=%s\n", static_cast<unsigned>(n), name);
    }
    if (found != config::NameResult::kAbsent) trace(ctx, "\nname=%s\n", name);
  }
}

}  // namespace engine
