// Immediate-mode batches of bounded size. The web page's OpenGL emulation
// gathers a glBegin/glEnd batch in a buffer of fixed size, indexed with
// 16-bit indices: a batch much past 64k vertices overflows it and stops the
// page. In a build that sets SV_IMMEDIATE_BATCH_VERTICES (the page's), a
// batch is ended and begun again each time it reaches that many vertices, a
// multiple of 3, 4 and 6, so a restart always falls between whole
// triangles, quads or pairs of triangles. Elsewhere the count is compiled
// out and a batch is one glBegin/glEnd, as it always was.
#pragma once

#include <GL/gl.h>

#ifndef SV_IMMEDIATE_BATCH_VERTICES
#define SV_IMMEDIATE_BATCH_VERTICES 0
#endif

class ImmediateBatch {
 public:
  static constexpr int kVertexLimit = SV_IMMEDIATE_BATCH_VERTICES;  // 0: unbounded
  static_assert(kVertexLimit % 12 == 0, "a restart must fall between whole primitives");

  explicit ImmediateBatch(GLenum mode) : mode_(mode) { glBegin(mode_); }
  ~ImmediateBatch() { glEnd(); }
  ImmediateBatch(const ImmediateBatch&) = delete;
  ImmediateBatch& operator=(const ImmediateBatch&) = delete;

  // Call before each vertex's attributes (its colour, texture coordinate
  // and glVertex): restarts the batch when it is full.
  void Vertex() {
    if (kVertexLimit == 0) return;
    if (sent_ == kVertexLimit) {
      glEnd();
      glBegin(mode_);
      sent_ = 0;
    }
    ++sent_;
  }

 private:
  GLenum mode_;
  int sent_ = 0;  // vertices in the batch so far
};
