#pragma once
// The modes of qvelnor-bench. Each gets the arguments after the mode name and
// returns the program's exit code.

namespace bench {

int RunDecode(int argc, char** argv);
int RunSample(int argc, char** argv);
int RunDeinterlace(int argc, char** argv);
int RunPipeline(int argc, char** argv);
int RunPipelineClient(int argc, char** argv);

}  // namespace bench
