// Release of the scene records. The program itself keeps its one scene until
// it exits; tools and tests release theirs.
#include "model/scene.h"

void FreeMeshObject(MeshObject* object) {
  if (object == nullptr) return;
  delete[] object->vertices;
  delete[] object->vertexNormals;
  delete[] object->faces;
  delete[] object->faceNormals;
  delete[] object->texCoords;
  delete[] object->edges;
  delete object;
}

void FreeScene(Scene* scene) {
  if (scene == nullptr) return;
  for (int i = 0; i < scene->objectCount; ++i) FreeMeshObject(scene->objects[i]);
  for (int i = 0; i < scene->materialCount; ++i) delete scene->materials[i];
  delete[] scene->objects;
  delete[] scene->materials;
  delete scene;
}
