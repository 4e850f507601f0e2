// Prints what pxlib reads from a Paradox file: header facts, the fields and every record, one
// per line, so tests can compare an independent reader's view with what was written. With a
// second argument (the .PX) it also attaches the primary index; with --mb FILE it reads BLOB
// values from that .MB. Run it in a child process: pxlib can abort or hang on damaged files.
extern "C" {
#include <paradox.h>
// pxlib's own stream functions: PX_set_blob_file and PX_open_blob_fp abort in the Debian build
// (a stack overflow while listing the .MB's blocks, fixed upstream later), so the dumper sets
// up the .MB stream itself; reading values needs no block list.
pxstream_t* px_stream_new_file(pxdoc_t*, int mode, int close, FILE*);
size_t px_mb_read(pxblob_t*, pxstream_t*, size_t, void*);
int px_mb_seek(pxblob_t*, pxstream_t*, long, int);
long px_mb_tell(pxblob_t*, pxstream_t*);
size_t px_mb_write(pxblob_t*, pxstream_t*, size_t, void*);
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_errors = 0;

void OnError(pxdoc_t*, int type, const char* msg, void*) {
  std::fprintf(stderr, "pxlib %s: %s\n", type == PX_Warning ? "warning" : "error", msg);
  if (type != PX_Warning) ++g_errors;
}

pxdoc_t* Open(const char* path, FILE*& fp) {
  fp = std::fopen(path, "rb");
  if (!fp) {
    std::fprintf(stderr, "cannot open %s\n", path);
    std::exit(2);
  }
  pxdoc_t* doc = PX_new2(OnError, nullptr, nullptr, nullptr);
  if (PX_open_fp(doc, fp) < 0) {
    std::fprintf(stderr, "pxlib cannot open %s\n", path);
    std::exit(3);
  }
  return doc;
}

void PrintHex(const char* data, int size) {
  for (int i = 0; i < size; ++i) std::printf("%02x", static_cast<unsigned char>(data[i]));
}

void PrintValue(pxdoc_t* doc, const pxfield_t& f, char* data) {
  // All-zero bytes are a blank value in every type; pxlib reads some of them as numbers
  // (a blank Long as -2147483648).
  bool blank = true;
  for (int i = 0; i < f.px_flen; ++i) blank = blank && data[i] == 0;
  if (blank) {
    std::fputs("NULL", stdout);
    return;
  }
  switch (f.px_ftype) {
    case pxfAlpha: {
      char* s = nullptr;
      if (PX_get_data_alpha(doc, data, f.px_flen, &s) > 0 && s) {
        std::fputs(s, stdout);
        doc->free(doc, s);
      } else {
        std::fputs("NULL", stdout);
      }
      return;
    }
    case pxfShort: {
      short v = 0;
      if (PX_get_data_short(doc, data, f.px_flen, &v) > 0)
        std::printf("%d", v);
      else
        std::fputs("NULL", stdout);
      return;
    }
    case pxfLong:
    case pxfDate:
    case pxfTime:
    case pxfAutoInc: {
      long v = 0;
      if (PX_get_data_long(doc, data, f.px_flen, &v) > 0)
        std::printf("%ld", v);
      else
        std::fputs("NULL", stdout);
      return;
    }
    case pxfNumber:
    case pxfCurrency:
    case pxfTimestamp: {
      double v = 0;
      if (PX_get_data_double(doc, data, f.px_flen, &v) > 0)
        std::printf("%.17g", v);
      else
        std::fputs("NULL", stdout);
      return;
    }
    case pxfLogical: {
      char v = 0;
      if (PX_get_data_byte(doc, data, f.px_flen, &v) > 0)
        std::printf("%d", v);
      else
        std::fputs("NULL", stdout);
      return;
    }
    case pxfBCD: {
      char* s = nullptr;
      if (PX_get_data_bcd(doc, reinterpret_cast<unsigned char*>(data), f.px_fdc, &s) > 0 && s) {
        std::fputs(s, stdout);
        doc->free(doc, s);
      } else {
        std::fputs("NULL", stdout);
      }
      return;
    }
    case pxfMemoBLOb:
    case pxfBLOb:
    case pxfFmtMemoBLOb:
    case pxfOLE:
    case pxfGraphic: {
      if (!doc->px_blob) break;
      // The value as length:hex (graphic values without their 8-byte prefix).
      int mod = 0, size = 0;
      char* v = nullptr;
      const int rc = f.px_ftype == pxfGraphic
                         ? PX_get_data_graphic(doc, data, f.px_flen, &mod, &size, &v)
                         : PX_get_data_blob(doc, data, f.px_flen, &mod, &size, &v);
      if (rc < 0) {
        std::fputs("BLOB-UNREADABLE", stdout);
        ++g_errors;
      } else {
        std::printf("%d:", size);
        if (v) PrintHex(v, size);
      }
      if (v) doc->free(doc, v);
      return;
    }
    default:
      break;
  }
  // Raw bytes for types the comparison does not decode (index shorts are read as Short, Bytes
  // and BLOB fields without their .MB as stored).
  PrintHex(data, f.px_flen);
}

}  // namespace

// Reads every record as raw bytes and prints the count: pxlib's reading speed alone.
int ReadOnly(const char* path) {
  FILE* fp = nullptr;
  pxdoc_t* doc = Open(path, fp);
  std::vector<char> rec(static_cast<std::size_t>(PX_get_recordsize(doc)));
  const int n = PX_get_num_records(doc);
  long read = 0;
  for (int r = 0; r < n; ++r)
    if (PX_get_record(doc, r, rec.data())) ++read;
  std::printf("%ld\n", read);
  PX_delete(doc);
  std::fclose(fp);
  return read == n && !g_errors ? 0 : 4;
}

int main(int argc, char** argv) {
  const char* mbPath = nullptr;
  if (argc >= 4 && std::strcmp(argv[argc - 2], "--mb") == 0) {
    mbPath = argv[argc - 1];
    argc -= 2;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: pxdump FILE [PRIMARY.PX] [--mb FILE.MB] | pxdump --read FILE\n");
    return 2;
  }
  PX_boot();
  if (std::strcmp(argv[1], "--read") == 0 && argc == 3) return ReadOnly(argv[2]);
  FILE* fp = nullptr;
  pxdoc_t* doc = Open(argv[1], fp);
  const pxhead_t* h = doc->px_head;
  std::printf("filetype %d\nversion %d\nrecords %d\nfields %d\nkeyfields %d\nrecordsize %d\n",
              h->px_filetype, h->px_fileversion, h->px_numrecords, h->px_numfields,
              h->px_primarykeyfields, h->px_recordsize);
  std::printf("headersize %d\nblocksize %d\ncodepage %d\nsortorder %d\nautoinc %d\n",
              h->px_headersize, h->px_maxtablesize, h->px_doscodepage,
              static_cast<unsigned char>(h->px_sortorder), h->px_autoinc);
  if (h->px_filetype == pxfFileTypPrimIndex || h->px_filetype == 4 || h->px_filetype == 7)
    std::printf("indexroot %d\nindexlevels %d\n", h->px_indexroot, h->px_numindexlevels);
  const int nf = PX_get_num_fields(doc);
  pxfield_t* fields = PX_get_fields(doc);
  for (int i = 0; i < nf; ++i)
    std::printf("field %s %d %d\n", fields[i].px_fname ? fields[i].px_fname : "",
                fields[i].px_ftype, fields[i].px_flen);

  pxdoc_t* index = nullptr;
  FILE* ifp = nullptr;
  if (argc == 3) {
    index = Open(argv[2], ifp);
    const int before = g_errors;
    const bool ok = PX_read_primary_index(index) >= 0 && PX_add_primary_index(doc, index) >= 0 &&
                    g_errors == before;
    std::printf("primaryindex %s\n", ok ? "attached" : "rejected");
  }

  FILE* mfp = nullptr;
  if (mbPath) {
    mfp = std::fopen(mbPath, "rb");
    if (!mfp) {
      std::fprintf(stderr, "cannot open %s\n", mbPath);
      return 2;
    }
    pxblob_t* blob = PX_new_blob(doc);
    blob->mb_stream = px_stream_new_file(doc, pxfIOFile, 0, mfp);
    blob->read = px_mb_read;
    blob->seek = px_mb_seek;
    blob->tell = px_mb_tell;
    blob->write = px_mb_write;
    doc->px_blob = blob;
  }
  std::puts("data");
  std::vector<char> rec(static_cast<std::size_t>(PX_get_recordsize(doc)));
  const int n = PX_get_num_records(doc);
  for (int r = 0; r < n; ++r) {
    if (!PX_get_record(doc, r, rec.data())) {
      std::printf("record %d unreadable\n", r);
      continue;
    }
    char* p = rec.data();
    for (int i = 0; i < nf; ++i) {
      if (i) std::fputc('|', stdout);
      PrintValue(doc, fields[i], p);
      p += fields[i].px_flen;
    }
    std::fputc('\n', stdout);
  }
  if (index) {
    PX_delete(index);
    std::fclose(ifp);
  }
  PX_delete(doc);
  std::fclose(fp);
  if (mfp) std::fclose(mfp);
  PX_shutdown();
  return g_errors ? 4 : 0;
}
