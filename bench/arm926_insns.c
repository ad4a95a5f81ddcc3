/* A TCG plugin for qemu-user that counts the guest instructions a program
 * executes, for bench/arm926-count.sh. Debian's qemu-user loads plugins
 * (-plugin) but ships neither the header nor the example plugins, so the few
 * functions of the plugin interface used here are declared below, as QEMU 7
 * documents them (plugin interface version 1).
 *
 *   qemu-arm -plugin bench/arm926_insns.so,out=FILE PROGRAM...
 *
 * Writes the count to FILE when the program exits. Each translated block
 * adds its number of instructions to one counter every time it runs (an
 * inline add, no call per block): a block runs to its end in user mode,
 * since a system call ends one. The counter is not atomic: single-threaded
 * programs only. */
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

typedef uint64_t qemu_plugin_id_t;
typedef struct qemu_info_t qemu_info_t;
struct qemu_plugin_tb;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op, void* ptr,
                                              uint64_t imm);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);

#define EXPORTED __attribute__((visibility("default")))

EXPORTED int qemu_plugin_version = 1;

static uint64_t instructions;
static char outPath[4096];

static void Translated(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &instructions,
                                           qemu_plugin_tb_n_insns(tb));
}

static void Exiting(qemu_plugin_id_t id, void* userdata) {
  (void)id;
  (void)userdata;
  FILE* out = fopen(outPath, "w");
  if (out) {
    fprintf(out, "%" PRIu64 "\n", instructions);
    fclose(out);
  }
}

EXPORTED int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc, char** argv);
EXPORTED int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc, char** argv) {
  (void)info;
  if (argc != 1 || strncmp(argv[0], "out=", 4) != 0 || strlen(argv[0] + 4) >= sizeof outPath) {
    fprintf(stderr, "arm926_insns: give the output file as out=FILE\n");
    return -1;
  }
  strcpy(outPath, argv[0] + 4);
  qemu_plugin_register_vcpu_tb_trans_cb(id, Translated);
  qemu_plugin_register_atexit_cb(id, Exiting, NULL);
  return 0;
}
