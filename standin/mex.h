/* The project's stand-in for the host's MEX API: the calls the extensions make, with the
   signatures of MATLAB's 64-bit API. As with MATLAB's own header, the plain names resolve to the
   _730 entry points wherever MATLAB has one, so a binary built against this header imports what
   a MATLAB binary imports. standin_libmx.cpp and standin_libmex.cpp provide them over plain
   memory for tests.

   Where MATLAB documents a behaviour, the stand-in follows it (source: the function's page in
   MATLAB's C Matrix API and MEX API reference):
   - mexErrMsgIdAndTxt: formats the message printf-style, ends the MEX call and does not return;
     memory from mxCalloc and arrays made by the call are released by the host (mexErrMsgIdAndTxt
     page). The identifier must have the form component:mnemonic (MException page); the stand-in
     refuses any other as misuse.
   - mexCallMATLAB: an error in the called function ends the MEX call (mexCallMATLAB page); the
     arrays it returns are new and belong to the caller. Only char of a 1-by-1 string object is
     provided.
   - mxIsClass: compares the array's class name ("double", "char", ..., "string" for a MATLAB
     string object), not checking base classes (mxIsClass page).
   - mxGetString: copies column by column and always ends the text with a NUL; returns 1 and
     truncates when the buffer is too small or the array is not text; with a buffer length of 0
     it writes nothing and returns 0 (mxGetString page).
   - mxCalloc: zero-filled; memory not released by the call is released when it ends (mxCalloc
     page). A failed allocation ends the call rather than returning NULL (pages of mxCalloc,
     mxRealloc and the mxCreate* functions, "in a MEX file").
   - mxRealloc: keeps the contents up to the smaller size; the block may move, and when it does
     the old one is released (mxRealloc page). Here it always moves, so a stale pointer shows.
   - mxSetPr, mxSetIr: install the block in the array and do not release the block they replace;
     to release it, call mxFree on the pointer from mxGetPr / mxGetIr (mxSetPr and mxSetIr pages).
     A replaced block that is never released is counted as leaked by the call.
   - mxSetNzmax: a capacity of 0 is taken as 1 (mxSetNzmax page).
   - mxDestroyArray: releases the array and its data blocks; NULL does nothing (mxDestroyArray
     page). */
#ifndef STANDIN_MEX_H
#define STANDIN_MEX_H

#include <stdbool.h>
#include <stddef.h>

typedef size_t mwSize;
typedef size_t mwIndex;
typedef unsigned short mxChar;
typedef bool mxLogical;
typedef struct mxArray_tag mxArray;

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX } mxComplexity;

#define mxGetNumberOfDimensions mxGetNumberOfDimensions_730
#define mxGetString mxGetString_730
#define mxGetIr mxGetIr_730
#define mxGetJc mxGetJc_730
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
#define mxCreateSparse mxCreateSparse_730
#define mxSetNzmax mxSetNzmax_730
#define mxSetIr mxSetIr_730

#ifdef __cplusplus
extern "C" {
#endif

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

void mexErrMsgIdAndTxt(const char* id, const char* format, ...);
int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name);

bool mxIsSparse(const mxArray* a);
bool mxIsDouble(const mxArray* a);
bool mxIsComplex(const mxArray* a);
bool mxIsChar(const mxArray* a);
bool mxIsNumeric(const mxArray* a);
bool mxIsLogical(const mxArray* a);
bool mxIsClass(const mxArray* a, const char* name);
mxClassID mxGetClassID(const mxArray* a);
mwSize mxGetNumberOfDimensions_730(const mxArray* a);
size_t mxGetNumberOfElements(const mxArray* a);
size_t mxGetM(const mxArray* a);
size_t mxGetN(const mxArray* a);
double* mxGetPr(const mxArray* a);
void* mxGetData(const mxArray* a);
mwIndex* mxGetIr_730(const mxArray* a);
mwIndex* mxGetJc_730(const mxArray* a);
int mxGetString_730(const mxArray* a, char* buffer, mwSize buffer_length);

void* mxCalloc(size_t count, size_t element_size);
void* mxRealloc(void* block, size_t bytes);
void mxFree(void* block);

mxArray* mxCreateDoubleMatrix_730(size_t m, size_t n, mxComplexity complexity);
mxArray* mxCreateSparse_730(mwSize m, mwSize n, mwSize nzmax, mxComplexity complexity);
void mxSetNzmax_730(mxArray* a, mwSize nzmax);
void mxSetPr(mxArray* a, double* pr);
void mxSetIr_730(mxArray* a, mwIndex* ir);
void mxDestroyArray(mxArray* a);

#ifdef __cplusplus
}
#endif

#endif
