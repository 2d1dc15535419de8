// Input kinds and derived file names: what a path is (solver log, QBM certificate,
// formula file), told by its name and first line, and the names of the files written
// after an input.
#pragma once

#include <string>

namespace inputs {

// True when the first occurrence of suffix in name is at its very end (a name in which
// the suffix also occurs earlier does not end in it). The kind tests below apply it to a
// path's last component: the directories on the way do not count.
bool endsWithSuffix(const std::string& name, const std::string& suffix);

// A ".Tobrin.log" name whose first line reads "# Tobrin log file...".
bool isLogFile(const std::string& path);
// A ".qbm" name whose first line reads "# QBM file, 1.3" (a certificate) or "# QBM file,
// 1.4" (a file that names its polarity: a countermodel).
bool isQbmFile(const std::string& path);
// A ".qrp" or ".qrp.gz" name whose first bytes read "p qrp " (ASCII) or "p bqrp "
// (binary), after decompression for a gzip file: a proof trace.
bool isTraceFile(const std::string& path);
// A ".aag" name whose file begins with "aag ", or a ".aig" name whose file begins with
// "aig ": a Skolem circuit.
bool isCircuitFile(const std::string& path);
// Named like a proof trace or a circuit (.qrp, .qrp.gz, .aag, .aig), whatever the content.
bool isCertificateInputNamed(const std::string& path);
// Why the path is no input Plumex reads, as a clause ("the file is empty", "it is a
// directory", ...).
std::string notAnInput(const std::string& path);
// The formula of a trace or circuit NAME.qrp[.gz] / NAME.aag / NAME.aig when none is
// named: the first of NAME.qdimacs, NAME.qdimacs.gz, NAME.qcnf, NAME.qcnf.gz that passes
// formulaExists; empty when there is none.
std::string formulaBeside(const std::string& inputPath);
// A ".qdimacs", ".qdimacs.gz", ".qcnf" or ".qcnf.gz" name that zlib can open (no
// directory, no pipe).
bool formulaExists(const std::string& path);
// A formula that is there: one that passes formulaExists, or a regular file of another
// name (a trace's or circuit's formula is read by its content).
bool formulaFound(const std::string& path);
// A formula path as found for an input: as given, else relative to the input's own
// directory when it is there; as given when neither is there.
std::string resolveFormula(const std::string& path, const std::string& inputPath);
// path (relative to the working directory, or absolute) as seen from the directory of
// the file fromFile, for recording in that file; absolute paths stay as they are.
std::string relativeTo(const std::string& path, const std::string& fromFile);
// A path named as a formula that is there but can never be read as one (a directory):
// unlike a missing formula, the certificate cannot be said verified against it.
bool formulaUnreadable(const std::string& path);
// The size of a file in bytes; -1 when it cannot be told.
long fileBytes(const std::string& path);

// dir/f.Tobrin.log -> dir/f.qbm (cut at the first ".Tobrin.log").
std::string logToQbmName(const std::string& logName);
// dir/f.qrp, dir/f.qrp.gz, dir/f.aag, dir/f.aig -> dir/f.qbm. When inputs of the same
// stem lie beside each other, only the first of f.Tobrin.log, f.qrp, f.qrp.gz, f.aag,
// f.aig takes dir/f.qbm and the others dir/f.ENDING.qbm (dir/f.aag.qbm, ...); a ".qbm" in
// the stem becomes "_qbm" (x.qbm.aag -> x_qbm.qbm), so that the name is a QBM name.
std::string certificateInputToQbmName(const std::string& inputName);
// dir/f.qbm -> dir/f.qdc (first ".qbm" replaced, cut right after). A name without
// ".qbm" gets ".qdc" appended.
std::string qbmToQdcName(const std::string& qbmName);
std::string dotName(const std::string& name);     // name + ".dot"
std::string resultName(const std::string& name);  // name + ".result"
std::string lineName(const std::string& name, int line);  // "%s.line%i"

enum class ExpDump { Direct, Cnf, Bdd, Dot };
// base, then ".%i" with index + 1 when count >= 2, then (CNF only) ".suffix" when the
// suffix is not empty, then the dump's ending ".exp.direct", ".exp.cnf", ".exp.bdd", ".exp.dot".
std::string expDumpName(const std::string& base, int index, int count, ExpDump kind,
                        const std::string& cnfSuffix = "");

}  // namespace inputs
