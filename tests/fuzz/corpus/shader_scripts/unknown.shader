// Keywords the engine does not draw, known and unknown.
textures/seeds/editor
{
	qer_editorimage textures/seeds/e.tga
	qer_trans 0.4
	q3map_surfacelight 500
	q3map_lightimage textures/seeds/l.tga
	tessSize 128
	entityMergable
	light 1
	{
		videoMap video/intro.roq
	}
}

textures/seeds/unknown
{
	glimmer 1 2 3
	sort sideways
	deformVertexes ripple 1
	{
		map a.tga
		rgbGen sparkle
		alphaGen shimmer
		tcGen sphere
		tcMod wobble 1 2
		alphaFunc GT1
		depthFunc always
		rgbGen wave bogus 0 1 0 1
		twinkle
	}
}
