// Shader keywords: sort, offsets, mipmaps, fog, and the deform kinds.
models/seeds/flag
{
	sort banner
	cull none
	polygonOffset
	nopicmip
	nomipmaps
	surfaceparm nolightmap
	surfaceparm trans
	deformVertexes wave 100 sin 0 3 0 0.5
	deformVertexes normal 0.5 2
	deformVertexes bulge 3 4 5
	deformVertexes move 0 0 1 noise 0 2 0 1
	deformVertexes autosprite2
	deformVertexes projectionShadow
	deformVertexes text4
	{
		map models/seeds/flag.tga
	}
}

textures/seeds/fog
{
	fogParms ( .2 .3 .9 ) 640
	sort 99
	deformVertexes autosprite
}

textures/seeds/sorted
{
	sort -3
	sort seeThrough
	fogparms (1 1 1)
}
