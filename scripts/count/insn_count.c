/* Instruction counter for qemu-aarch64 (a TCG plugin): counts the guest instructions each thread
 * executes, by class, and splits a thread's count into buckets at marker instructions.
 *
 *   qemu-aarch64 -plugin build/insn_count.so,out=FILE ...
 *
 * Classes: every instruction; SIMD and floating-point data processing (the encoding group "scalar
 * floating-point and Advanced SIMD"); SIMD and floating-point loads and stores (load/store group with
 * the V bit). Markers (src/porting/CountMark.h) are hint instructions the architecture executes as
 * no-ops: HINT #0x70 starts a frame (the thread counts into bucket 0, the frame road, and its block
 * number goes back to 0), HINT #0x71 starts the next block (block number + 1, counted into the bucket
 * of that number), HINT #0x72 goes back to the road (bucket 0, block number kept). Markers themselves
 * are not counted. At exit FILE gets one line per thread and bucket that counted anything:
 * "thread bucket all simd_arith simd_ldst", and one per thread that passed frame marks: "thread -1
 * marks 0 0" (a thread that skips frames, as a late amp-model worker does, is then counted per frame
 * it ran).
 *
 * Counts are added when a straight run of instructions starts (a translation block, or the part of
 * one after a marker), which is exact as long as runs are not cut short by a fault or a signal. */
#include "qemu_plugin_api.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

QEMU_PLUGIN_EXPORT int qemu_plugin_version = QEMU_PLUGIN_VERSION;

enum { kAll, kSimdArith, kSimdLdst, kClasses };
enum { kThreads = 64, kBuckets = 64 };
enum { kMarkNone, kMarkFrame, kMarkBlock, kMarkRoad };

/* HINT #imm: 0xD503201F with the immediate in bits 5..11. */
static int mark_of(uint32_t insn)
{
    if ((insn & ~(0x7Fu << 5)) != 0xD503201Fu) return kMarkNone;
    switch ((insn >> 5) & 0x7F) {
    case 0x70: return kMarkFrame;
    case 0x71: return kMarkBlock;
    case 0x72: return kMarkRoad;
    default: return kMarkNone;
    }
}

/* A straight run of instructions and what to do before it. */
struct run {
    int mark;
    uint64_t n[kClasses];
};

/* Each thread (vcpu in user mode) touches only its own entry; threads past the table share the last. */
struct thread {
    int bucket;
    int block;
    uint64_t frames;
    uint64_t n[kBuckets][kClasses];
};

static struct thread threads[kThreads];
static char out_path[4096];
static pid_t owner;

static void on_run(unsigned int vcpu, void* userdata)
{
    const struct run* r = userdata;
    struct thread* t = &threads[vcpu < kThreads ? vcpu : kThreads - 1];
    switch (r->mark) {
    case kMarkFrame:
        t->bucket = t->block = 0;
        t->frames++;
        break;
    case kMarkBlock:
        if (t->block < kBuckets - 1) t->block++;
        t->bucket = t->block;
        break;
    case kMarkRoad: t->bucket = 0; break;
    }
    for (int c = 0; c < kClasses; ++c) t->n[t->bucket][c] += r->n[c];
}

static void classify(uint32_t insn, uint64_t* n)
{
    n[kAll]++;
    if ((insn & 0x0E000000u) == 0x0E000000u) n[kSimdArith]++;
    else if ((insn & 0x0E000000u) == 0x0C000000u) n[kSimdLdst]++; /* load/store with V = 1 */
}

static struct run* new_run(int mark)
{
    struct run* r = calloc(1, sizeof *r);
    if (!r) abort();
    r->mark = mark;
    return r;
}

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb)
{
    (void)id;
    const size_t count = qemu_plugin_tb_n_insns(tb);
    struct run *first = new_run(kMarkNone), *r = first;
    for (size_t i = 0; i < count; ++i) {
        struct qemu_plugin_insn* insn = qemu_plugin_tb_get_insn(tb, i);
        uint32_t word = 0;
        if (qemu_plugin_insn_size(insn) == sizeof word) memcpy(&word, qemu_plugin_insn_data(insn), sizeof word);
        const int mark = mark_of(word);
        if (mark != kMarkNone) {
            r = new_run(mark);
            qemu_plugin_register_vcpu_insn_exec_cb(insn, on_run, QEMU_PLUGIN_CB_NO_REGS, r);
        } else {
            classify(word, r->n);
        }
    }
    if (first->n[kAll] > 0) qemu_plugin_register_vcpu_tb_exec_cb(tb, on_run, QEMU_PLUGIN_CB_NO_REGS, first);
    else free(first);
}

static void write_counts(qemu_plugin_id_t id, void* userdata)
{
    (void)id;
    (void)userdata;
    /* A forked child that exits under qemu must not overwrite its parent's figures. */
    if (getpid() != owner) return;
    FILE* f = fopen(out_path, "w");
    if (!f) {
        qemu_plugin_outs("insn_count: cannot write the output file\n");
        return;
    }
    for (int t = 0; t < kThreads; ++t) {
        for (int b = 0; b < kBuckets; ++b)
            if (threads[t].n[b][kAll])
                fprintf(f, "%d %d %llu %llu %llu\n", t, b, (unsigned long long)threads[t].n[b][kAll],
                        (unsigned long long)threads[t].n[b][kSimdArith],
                        (unsigned long long)threads[t].n[b][kSimdLdst]);
        if (threads[t].frames) fprintf(f, "%d -1 %llu 0 0\n", t, (unsigned long long)threads[t].frames);
    }
    fclose(f);
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc, char** argv)
{
    if (info->system_emulation || strcmp(info->target_name, "aarch64") != 0) {
        qemu_plugin_outs("insn_count: aarch64 user mode only\n");
        return -1;
    }
    for (int i = 0; i < argc; ++i)
        if (strncmp(argv[i], "out=", 4) == 0) snprintf(out_path, sizeof out_path, "%s", argv[i] + 4);
    if (!out_path[0]) {
        qemu_plugin_outs("insn_count: give out=FILE\n");
        return -1;
    }
    owner = getpid();
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
    qemu_plugin_register_atexit_cb(id, write_counts, NULL);
    return 0;
}
